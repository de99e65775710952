#pragma once

#include "iskinobject.h"
#include "skindefinition.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <memory>
#include <vector>

// One live element of the loaded skin. Buttons and texts are backed by a child
// widget; panels, bars and images are painted by the skin on `canvas`.
class SkinElement : public ISkinObject, public ISkinText, public ISkinFrame {
public:
    SkinElement(QWidget *canvas, SkinElementDef def);

    QString GetName() const override { return def_.name; }
    ISkinObject *FindObject(const QString &name) override;
    ISkinText *TextFacet() override { return this; }
    ISkinFrame *FrameFacet() override { return this; }

    void SetText(const QString &text) override;
    QString Text() const override { return text_; }

    SkinRect GetRect() const override;
    void SetRect(const SkinRect &rect) override;
    void Refresh() override;

    const SkinElementDef &def() const { return def_; }
    QRect rect() const { return rect_; }
    QWidget *widget() const { return widget_; }
    void setWidget(QWidget *widget);
    SkinElement *addChild(std::unique_ptr<SkinElement> child);
    const std::vector<std::unique_ptr<SkinElement>> &children() const { return children_; }

private:
    QWidget *canvas_;
    SkinElementDef def_;
    QRect rect_;
    QString text_;
    QRect dirty_; // painted area not yet refreshed since the last SetRect
    QPointer<QWidget> widget_;
    std::vector<std::unique_ptr<SkinElement>> children_;
};
