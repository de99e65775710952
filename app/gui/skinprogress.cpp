#include "skinprogress.h"

#include "rules.h"

#include <algorithm>

void SkinProgress::setElements(ISkinFrame *bar, ISkinText *percentText, ISkinFrame *percentFrame)
{
    m_bar = bar;
    m_percentText = percentText;
    m_percentFrame = percentFrame;
    m_barOrigin = bar ? bar->GetRect() : SkinRect{};
    runFinished();
}

void SkinProgress::rowProgress(int, int done, int total)
{
    ShowProgress(MulDiv(done, 10000, total));
}

void SkinProgress::runFinished()
{
    ShowProgress(0);
    setPercentText(QString());
}

void SkinProgress::ShowProgress(int value)
{
    if (!m_running())
        value = 0;
    value = std::min(value, 10000); // there is no lower clamp: -1 draws an empty bar
    if (m_bar) {
        SkinRect rect = m_barOrigin;
        rect.right = rect.left + MulDiv(value, kFullWidth, 10000);
        m_bar->SetRect(rect);
        m_bar->Refresh();
    }
    setPercentText(QString::number(std::min(value / 100, 100)) + QLatin1Char('%'));
}

void SkinProgress::setPercentText(const QString &text)
{
    if (m_percentText)
        m_percentText->SetText(text);
    if (m_percentFrame)
        m_percentFrame->Refresh();
}
