#include "skinglyphs.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <map>

namespace {

// Every glyph is drawn on a 24 x 24 grid with a 2-unit pen.
using Glyph = std::function<void(QPainter &, const QColor &)>;

QPainterPath documentOutline()
{
    QPainterPath path;
    path.moveTo(5, 2.5);
    path.lineTo(14, 2.5);
    path.lineTo(19, 7.5);
    path.lineTo(19, 21.5);
    path.lineTo(5, 21.5);
    path.closeSubpath();
    path.moveTo(13.5, 2.5);
    path.lineTo(13.5, 8);
    path.lineTo(19, 8);
    return path;
}

QPainterPath folderOutline()
{
    QPainterPath path;
    path.moveTo(2.5, 5);
    path.lineTo(9, 5);
    path.lineTo(11, 7.5);
    path.lineTo(21.5, 7.5);
    path.lineTo(21.5, 19.5);
    path.lineTo(2.5, 19.5);
    path.closeSubpath();
    return path;
}

void plusAt(QPainter &p, QPointF c, qreal r)
{
    p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
}

// A small filled badge that cuts out the outline underneath it.
void badge(QPainter &p, QPointF c, const QColor &color, bool plus)
{
    p.save();
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    p.drawEllipse(c, 5.5, 5.5);
    QPen pen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    if (plus)
        plusAt(p, c, 2.8);
    else
        p.drawLine(QPointF(c.x() - 2.8, c.y()), QPointF(c.x() + 2.8, c.y()));
    p.restore();
}

const std::map<QString, Glyph> &glyphs()
{
    static const std::map<QString, Glyph> table = {
        {QStringLiteral("add-file"),
         [](QPainter &p, const QColor &c) {
             p.drawPath(documentOutline());
             badge(p, {17, 17}, c, true);
         }},
        {QStringLiteral("add-folder"),
         [](QPainter &p, const QColor &c) {
             p.drawPath(folderOutline());
             badge(p, {17.5, 17}, c, true);
         }},
        {QStringLiteral("remove"),
         [](QPainter &p, const QColor &c) {
             p.drawLine(QPointF(3, 6), QPointF(16, 6));
             p.drawLine(QPointF(3, 11), QPointF(13, 11));
             p.drawLine(QPointF(3, 16), QPointF(10, 16));
             badge(p, {17.5, 16.5}, c, false);
         }},
        {QStringLiteral("clear"),
         [](QPainter &p, const QColor &) {
             p.drawLine(QPointF(3.5, 6), QPointF(20.5, 6));
             p.drawLine(QPointF(9.5, 6), QPointF(9.5, 3));
             p.drawLine(QPointF(9.5, 3), QPointF(14.5, 3));
             p.drawLine(QPointF(14.5, 3), QPointF(14.5, 6));
             QPainterPath can;
             can.moveTo(5.5, 6);
             can.lineTo(7, 21);
             can.lineTo(17, 21);
             can.lineTo(18.5, 6);
             p.drawPath(can);
             p.drawLine(QPointF(10, 10), QPointF(10, 17));
             p.drawLine(QPointF(14, 10), QPointF(14, 17));
         }},
        {QStringLiteral("folder"),
         [](QPainter &p, const QColor &) {
             p.drawPath(folderOutline());
             p.drawLine(QPointF(2.5, 10.5), QPointF(21.5, 10.5));
         }},
        {QStringLiteral("folder-open"),
         [](QPainter &p, const QColor &) {
             QPainterPath path;
             path.moveTo(2.5, 19.5);
             path.lineTo(2.5, 5);
             path.lineTo(8.5, 5);
             path.lineTo(10.5, 7.5);
             path.lineTo(17.5, 7.5);
             path.lineTo(17.5, 10.5);
             path.moveTo(2.5, 19.5);
             path.lineTo(6, 10.5);
             path.lineTo(22, 10.5);
             path.lineTo(18.5, 19.5);
             path.closeSubpath();
             p.drawPath(path);
         }},
        {QStringLiteral("format"),
         [](QPainter &p, const QColor &c) {
             for (auto [y, x] : {std::pair{6.0, 8.0}, {12.0, 16.0}, {18.0, 11.0}}) {
                 p.drawLine(QPointF(3, y), QPointF(21, y));
                 p.save();
                 p.setBrush(c);
                 p.drawEllipse(QPointF(x, y), 2.4, 2.4);
                 p.restore();
             }
         }},
        {QStringLiteral("tags"),
         [](QPainter &p, const QColor &) {
             QPainterPath tag;
             tag.moveTo(3, 3);
             tag.lineTo(11.5, 3);
             tag.lineTo(21, 12.5);
             tag.lineTo(12.5, 21);
             tag.lineTo(3, 11.5);
             tag.closeSubpath();
             p.drawPath(tag);
             p.drawEllipse(QPointF(8, 8), 1.6, 1.6);
         }},
        {QStringLiteral("convert"),
         [](QPainter &p, const QColor &c) {
             QPainterPath play;
             play.moveTo(6, 3.5);
             play.lineTo(20, 12);
             play.lineTo(6, 20.5);
             play.closeSubpath();
             p.save();
             p.setBrush(c);
             p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawPath(play);
             p.restore();
         }},
        {QStringLiteral("stop"),
         [](QPainter &p, const QColor &c) {
             p.save();
             p.setBrush(c);
             p.drawRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
             p.restore();
         }},
        {QStringLiteral("help"),
         [](QPainter &p, const QColor &c) {
             p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
             QPainterPath q;
             q.moveTo(9, 9.5);
             q.cubicTo(9, 5.5, 15, 5.5, 15, 9.5);
             q.cubicTo(15, 12, 12, 12, 12, 14.5);
             p.drawPath(q);
             p.save();
             p.setBrush(c);
             p.setPen(Qt::NoPen);
             p.drawEllipse(QPointF(12, 17.8), 1.3, 1.3);
             p.restore();
         }},
        {QStringLiteral("logo"),
         [](QPainter &p, const QColor &c) {
             // Sound bars turning into an arrow: audio in, audio out.
             p.save();
             p.setPen(QPen(c, 2.4, Qt::SolidLine, Qt::RoundCap));
             const qreal heights[] = {4, 10, 16, 10, 6};
             for (int i = 0; i < 5; ++i) {
                 const qreal x = 2.5 + i * 3.2;
                 p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
             }
             QPainterPath arrow;
             arrow.moveTo(17.5, 6.5);
             arrow.lineTo(22.5, 12);
             arrow.lineTo(17.5, 17.5);
             p.setPen(QPen(c, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
             p.drawPath(arrow);
             p.restore();
         }},
    };
    return table;
}

} // namespace

QStringList SkinGlyphNames()
{
    QStringList names;
    for (const auto &entry : glyphs())
        names << entry.first;
    return names;
}

bool IsSkinGlyph(const QString &name)
{
    return glyphs().count(name) != 0;
}

void PaintSkinGlyph(QPainter &painter, const QString &name, const QRectF &box, const QColor &color)
{
    const auto it = glyphs().find(name);
    if (it == glyphs().end() || box.isEmpty())
        return;
    const qreal side = std::min(box.width(), box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / 24.0, side / 24.0);
    painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    it->second(painter, color);
    painter.restore();
}
