#pragma once

#include <QString>

// Removes leading and trailing characters with codes 0 to 32 (the space and
// the control characters) and nothing else: every tag reader and the title
// cleaning trim this way.
QString TrimControl(const QString &text);
