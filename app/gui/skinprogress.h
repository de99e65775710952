#pragma once

#include "iskinobject.h"
#include "runobserver.h"

#include <functional>

// Shows a run on the skin: the bar "pb" grows to 439 pixels over the current
// file and "pbpos" shows its percentage. Either element may be missing.
class SkinProgress : public RunObserver {
public:
    // `running` tells whether a conversion runs: only then may the bar show progress.
    explicit SkinProgress(std::function<bool()> running) : m_running(std::move(running)) {}

    // Looked up again after every skin load, since elements die with their skin.
    void setElements(ISkinFrame *bar, ISkinText *percentText, ISkinFrame *percentFrame);

    void rowStarted(int) override { ShowProgress(0); }
    void rowProgress(int, int done, int total) override;
    void rowFinished(int, const RowResult &) override { ShowProgress(0); }
    // The idle look: no bar and no percentage.
    void runFinished() override;

    // `value` in ten-thousandths of the current file; while no run is active
    // the bar has no width and the text reads "0%", whatever the value.
    void ShowProgress(int value);

    static constexpr int kFullWidth = 439;

private:
    void setPercentText(const QString &text);

    std::function<bool()> m_running;
    ISkinFrame *m_bar = nullptr;
    ISkinText *m_percentText = nullptr;
    ISkinFrame *m_percentFrame = nullptr;
    SkinRect m_barOrigin; // as the skin drew it
};
