#pragma once

#include "audiofileinfo.h"

#include <QString>

// The rows the tag editor works on: each row's list text and its tags. The
// file list implements it, so the editor needs nothing of the main window.
class TaggedRows {
public:
    virtual ~TaggedRows() = default;
    virtual int count() const = 0;
    virtual QString caption(int row) const = 0;
    virtual void setCaption(int row, const QString &caption) = 0;
    virtual const FileTagTable &fileTagTable() const = 0;
    virtual void setFileTagTable(const FileTagTable &table) = 0;

protected:
    TaggedRows() = default;
    TaggedRows(const TaggedRows &) = default;
    TaggedRows &operator=(const TaggedRows &) = default;
};
