#pragma once

#include <QByteArrayView>
#include <QString>

struct WMATagInfo;

// The module's own reader of a WMA file's header, used when the attribute
// library cannot serve a file. It faces arbitrary bytes: it never reads
// outside what it is given, always ends, and keeps what it read before a
// broken or truncated part. Two layouts are understood: the header the
// attribute tables of early ASF writers used (a description object of typed,
// named entries) and the ASF header that WMA files carry today (content
// description and extended content description objects).
//
// Returns true and fills `tag` (the whole record, Found = -1) when the bytes
// start with a header object; otherwise `tag` is left as it was.
bool ReadWmaHeader(QByteArrayView bytes, WMATagInfo &tag);
bool ReadWmaHeaderFile(const QString &fileName, WMATagInfo &tag);
