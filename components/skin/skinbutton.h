#pragma once

#include <QAbstractButton>
#include <QColor>

struct SkinElementDef;
struct SkinFormDef;

// A skin button: a real button (focus, keyboard, accessibility) whose look
// comes from the skin. Styles: "push" (icon beside caption), "tool" (flat,
// icon above caption), "accent" (push in the accent colour), "icon" (icon only,
// caption as tooltip and accessible name).
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    SkinButton(const SkinElementDef &def, const SkinFormDef &form, QWidget *parent);

    QString iconName() const { return icon_; }
    QString styleName() const { return style_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString icon_;
    QString style_;
    QColor accent_;
    QColor face_;
    QColor face2_;
    QColor border_;
    QColor ink_;
};
