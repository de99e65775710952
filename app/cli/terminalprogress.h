#pragma once

#include "iskinobject.h"

#include <QString>

// Stands in for the skin's progress elements on a terminal: the run's
// percentage updates become a redrawn bar on a terminal and nothing otherwise.
class TerminalProgress : public ISkinText, public ISkinFrame {
public:
    explicit TerminalProgress(bool interactive) : m_interactive(interactive) {}

    void setLabel(const QString &label) { m_label = label; }
    void finishLine();

    void SetText(const QString &text) override;
    QString Text() const override { return m_text; }
    SkinRect GetRect() const override { return m_rect; }
    void SetRect(const SkinRect &rect) override { m_rect = rect; }
    void Refresh() override {}

private:
    bool m_interactive;
    bool m_drawn = false;
    QString m_label;
    QString m_text;
    SkinRect m_rect{0, 0, 439, 0};
};
