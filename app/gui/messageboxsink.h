#pragma once

#include "messages.h"

// Shows the program's messages in real message boxes.
class MessageBoxSink : public Messages::Sink {
public:
    void information(const QString &text) override;
    void error(const QString &text) override;
};
