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

    QString GetName() const override { return m_def.name; }
    ISkinObject *FindObject(const QString &name) override;
    ISkinText *TextFacet() override { return this; }
    ISkinFrame *FrameFacet() override { return this; }

    void SetText(const QString &text) override;
    QString Text() const override { return m_text; }

    SkinRect GetRect() const override;
    void SetRect(const SkinRect &rect) override;
    void Refresh() override;

    const SkinElementDef &def() const { return m_def; }
    QRect rect() const { return m_rect; }
    QWidget *widget() const { return m_widget; }
    void setWidget(QWidget *widget);
    SkinElement *addChild(std::unique_ptr<SkinElement> child);
    const std::vector<std::unique_ptr<SkinElement>> &children() const { return m_children; }

private:
    QWidget *m_canvas;
    SkinElementDef m_def;
    QRect m_rect;
    QString m_text;
    QRect m_dirty; // painted area not yet refreshed since the last SetRect
    QPointer<QWidget> m_widget;
    std::vector<std::unique_ptr<SkinElement>> m_children;
};
