#include "skinbutton.h"

#include "skindefinition.h"
#include "skinglyphs.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

SkinButton::SkinButton(const SkinElementDef &def, const SkinFormDef &form, QWidget *parent)
    : QAbstractButton(parent), m_icon(def.icon),
      m_style(def.style.isEmpty() ? QStringLiteral("push") : def.style), m_accent(form.accent),
      m_face(def.fill), m_face2(def.fill2), m_border(def.border),
      m_ink(def.color.isValid() ? def.color : form.panelText)
{
    setObjectName(def.name);
    setText(def.text);
    setToolTip(def.tooltip.isEmpty() ? def.text : def.tooltip);
    // Screen readers announce the caption as the name; the element name lets
    // automation find the button whatever the caption says.
    setAccessibleDescription(def.name);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    const qreal size = def.fontSize > 0 ? def.fontSize : form.fontSize;
    if (size > 0)
        f.setPointSizeF(size);
    f.setBold(def.bold);
    setFont(f);
    if (m_style == QLatin1String("accent") && !def.color.isValid())
        m_ink = Qt::white;
}

void SkinButton::keyPressEvent(QKeyEvent *event)
{
    // Outside a dialog a plain button ignores Enter; a skin button takes it
    // like Space, so keyboard users can press it either way.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SkinButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        p.setOpacity(0.45);

    const bool hover = underMouse() && isEnabled();
    const bool down = isDown();
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = 5;

    QColor top;
    QColor bottom;
    QColor edge;
    if (m_style == QLatin1String("tool")) {
        if (down) {
            top = bottom = QColor(m_accent.red(), m_accent.green(), m_accent.blue(), 70);
            edge = m_accent;
        } else if (hover) {
            top = bottom = QColor(255, 255, 255, 120);
            edge = QColor(m_accent.red(), m_accent.green(), m_accent.blue(), 140);
        }
    } else if (m_style == QLatin1String("accent")) {
        top = m_accent.lighter(down ? 100 : hover ? 135 : 120);
        bottom = m_accent.darker(down ? 125 : hover ? 100 : 110);
        edge = m_accent.darker(140);
    } else {
        top = m_face.isValid() ? m_face : QColor(255, 255, 255);
        bottom = m_face2.isValid() ? m_face2 : QColor(232, 241, 244);
        edge = m_border.isValid() ? m_border : QColor(150, 184, 194);
        if (hover) {
            top = QColor(247, 252, 253);
            bottom = QColor(214, 236, 243);
            edge = m_accent;
        }
        if (down) {
            top = QColor(196, 222, 230);
            bottom = QColor(220, 236, 241);
            edge = m_accent.darker(120);
        }
    }
    if (top.isValid()) {
        QLinearGradient gradient(frame.topLeft(), frame.bottomLeft());
        gradient.setColorAt(0, top);
        gradient.setColorAt(1, bottom);
        p.setBrush(gradient);
        p.setPen(edge.isValid() ? QPen(edge, 1) : Qt::NoPen);
        p.drawRoundedRect(frame, radius, radius);
    }
    if (hasFocus()) {
        QPen ring(m_style == QLatin1String("accent") ? QColor(Qt::white) : m_accent, 1, Qt::DotLine);
        p.setPen(ring);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(frame.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2, radius - 2);
    }

    const QPointF shift = down ? QPointF(0, 1) : QPointF();
    const QRectF area = QRectF(rect()).adjusted(4, 3, -4, -3).translated(shift);
    // Push buttons tint their icon on hover; flat and accent buttons keep their ink.
    const bool tint =
        (m_style == QLatin1String("push") || m_style == QLatin1String("icon")) && (hover || down);
    const QColor glyphInk = tint ? m_accent.darker(115) : m_ink;
    p.setPen(m_ink);

    if (m_style == QLatin1String("icon") || text().isEmpty()) {
        const qreal side = std::min(area.width(), area.height()) - 2;
        PaintSkinGlyph(p, m_icon,
                       QRectF(0, 0, side, side).translated(area.center() - QPointF(side / 2, side / 2)),
                       glyphInk);
        return;
    }
    if (m_style == QLatin1String("tool")) {
        const QFontMetricsF fm(font());
        const qreal textHeight = fm.height();
        const qreal side = std::min<qreal>(24, area.height() - textHeight - 2);
        const qreal top0 = area.top() + (area.height() - side - textHeight - 2) / 2;
        PaintSkinGlyph(p, m_icon, QRectF(area.center().x() - side / 2, top0, side, side), glyphInk);
        const QRectF textBox(area.left(), top0 + side + 2, area.width(), textHeight);
        p.drawText(textBox, Qt::AlignHCenter | Qt::AlignTop,
                   fm.elidedText(text(), Qt::ElideRight, textBox.width()));
        return;
    }
    // Icon beside the caption, the pair centred. A caption comes before its
    // icon: when both don't fit (a wide desktop font), the icon gives way.
    const QFontMetricsF fm(font());
    qreal side = m_icon.isEmpty() ? 0 : std::min<qreal>(18, area.height());
    qreal gap = m_icon.isEmpty() ? 0 : 5;
    if (fm.horizontalAdvance(text()) + side + gap > area.width())
        side = gap = 0;
    const qreal textWidth = std::min(fm.horizontalAdvance(text()), area.width() - side - gap);
    const qreal left = area.left() + (area.width() - side - gap - textWidth) / 2;
    if (side > 0)
        PaintSkinGlyph(p, m_icon, QRectF(left, area.center().y() - side / 2, side, side), glyphInk);
    const QRectF textBox(left + side + gap, area.top(), textWidth + 1, area.height());
    p.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(text(), Qt::ElideRight, textBox.width()));
}
