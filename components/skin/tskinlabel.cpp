#include "tskinlabel.h"

#include <QEvent>

TSkinLabel::TSkinLabel(QWidget *parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("SkinLabel1"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The label's width is fixed by the window, never by the path it shows.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setMinimumWidth(1);
}

void TSkinLabel::setCaption(const QString &caption)
{
    m_caption = caption;
    setAccessibleName(caption);
    elide();
}

void TSkinLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void TSkinLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        elide();
}

void TSkinLabel::elide()
{
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = fontMetrics().elidedText(m_caption, Qt::ElideMiddle, std::max(room, 1));
    setText(shown);
    setToolTip(shown == m_caption ? QString() : m_caption);
}
