#pragma once

#include <QColor>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

enum class SkinKind { Form, Panel, Text, Button, Bar, Image };

// One element as the skin file describes it; colours left invalid mean "none"
// or "the form's default".
struct SkinElementDef {
    SkinKind kind = SkinKind::Panel;
    QString name;
    int line = 0; // where its section starts, for messages
    bool hasRect = false;
    QRect rect;
    QString text;
    QString tooltip;
    QString icon;
    QString style; // buttons: push, tool, accent or icon
    QColor fill;
    QColor fill2; // second gradient stop, top to bottom
    QColor border;
    QColor color; // text or glyph colour
    int radius = 0;
    qreal fontSize = 0; // points; 0 keeps the form's size
    bool bold = false;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
};

// A window's look: its client size, the colours it gives the window and the
// elements drawn on it, in painting (and tab) order.
struct SkinFormDef {
    QString name;
    int line = 0;
    QSize size;
    QColor window = Qt::white;
    QColor windowText = Qt::black;
    QColor panel = QColor(216, 233, 236);
    QColor panelText = Qt::black;
    QColor accent = QColor(43, 122, 148);
    QColor fill;
    QColor fill2;
    qreal fontSize = 0;
    QList<SkinElementDef> elements;
};

struct SkinDefinition {
    QList<SkinFormDef> forms;

    const SkinFormDef *form(const QString &name) const
    {
        for (const SkinFormDef &f : forms)
            if (f.name == name)
                return &f;
        return nullptr;
    }
};
