#pragma once

#include <QString>

// The commands a click on a named skin element can start.
enum class Command {
    None,
    SetPath,
    AddFolder,
    AddFile,
    Settings,
    Remove,
    Converter,
    Help,
    Stop,
    Clear,
    Open,
    Id3
};

// Exact, case-sensitive match on the element's name; None for any other.
Command commandForElement(const QString &name);

// Refused with "Please stop converting first!" while a run is active.
bool isGuarded(Command command);
