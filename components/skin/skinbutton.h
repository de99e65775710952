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

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_icon;
    QString m_style;
    QColor m_accent;
    QColor m_face;
    QColor m_face2;
    QColor m_border;
    QColor m_ink;
};
