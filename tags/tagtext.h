#pragma once

#include <QString>

class QFile;

// Removes leading and trailing characters with codes 0 to 32 (the space and
// the control characters) and nothing else: every tag reader and the title
// cleaning trim this way.
QString TrimControl(const QString &text);

// Opens a tag reader's file for reading, refusing anything but a regular
// file: a pipe would wait for a writer and a device may never end.
bool openRegularFile(const QString &fileName, QFile &file);

// "2005-09-05T12:00" names its year in its first four digits; other texts stay whole.
QString yearFromDate(const QString &date);
// The leading number of "3" or "3/12"; 0 when there is none or it does not fit.
quint16 leadingNumber(const QString &text);
