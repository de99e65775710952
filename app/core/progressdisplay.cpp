#include "progressdisplay.h"

#include "rules.h"

void ProgressDisplay::reset()
{
    if (bar) {
        SkinRect rect = barOrigin;
        rect.right = rect.left;
        bar->SetRect(rect);
        bar->Refresh();
    }
    setPercentText(QString());
}

void ProgressDisplay::draw(int value)
{
    if (bar) {
        SkinRect rect = barOrigin;
        rect.right = rect.left + MulDiv(value, kFullWidth, 10000);
        bar->SetRect(rect);
        bar->Refresh();
    }
    setPercentText(QString::number(std::min(value / 100, 100)) + QLatin1Char('%'));
}

void ProgressDisplay::setPercentText(const QString &text)
{
    if (percentText)
        percentText->SetText(text);
    if (percentFrame)
        percentFrame->Refresh();
}
