#pragma once

#include <QStringList>

class QColor;
class QPainter;
class QRectF;

// The skin's icons are painted line glyphs, so they scale cleanly and need
// no artwork files.
QStringList SkinGlyphNames();
bool IsSkinGlyph(const QString &name);
// Paints `name` centred in `box` (kept square); unknown names paint nothing.
void PaintSkinGlyph(QPainter &painter, const QString &name, const QRectF &box, const QColor &color);
