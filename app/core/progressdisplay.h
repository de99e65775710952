#pragma once

#include "iskinobject.h"

// The skin elements that show a run's progress: the bar "pb" and the
// percentage text "pbpos". Any of them may be missing from a skin.
struct ProgressDisplay {
    ISkinFrame *bar = nullptr;
    ISkinText *percentText = nullptr;
    ISkinFrame *percentFrame = nullptr;
    SkinRect barOrigin;  // as read once at start-up

    static constexpr int kFullWidth = 439;

    // Bar narrowed to zero width and no percentage: the idle look.
    void reset();
    // `value` in ten-thousandths, already clamped by the caller.
    void draw(int value);
    void setPercentText(const QString &text);
};
