#include "terminalprogress.h"

#include <cstdio>

void TerminalProgress::SetText(const QString &text)
{
    m_text = text;
    if (!m_interactive || text.isEmpty())
        return;
    const int percent = text.chopped(1).toInt();
    constexpr int width = 30;
    const int filled = percent * width / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    std::fprintf(stderr, "\r[%s] %3d%% %s\x1b[K", qPrintable(bar), percent, qPrintable(m_label.left(40)));
    std::fflush(stderr);
    m_drawn = true;
}

void TerminalProgress::finishLine()
{
    if (m_drawn)
        std::fprintf(stderr, "\r\x1b[K");
    m_drawn = false;
}
