#include "commands.h"

#include <array>
#include <utility>

namespace {
// Matched in this order; the first match wins.
const std::array<std::pair<const char *, Command>, 11> kCommands{{
    {"setpath", Command::SetPath},
    {"addfolder", Command::AddFolder},
    {"addfile", Command::AddFile},
    {"settings", Command::Settings},
    {"remove", Command::Remove},
    {"converter", Command::Converter},
    {"help", Command::Help},
    {"stop", Command::Stop},
    {"clear", Command::Clear},
    {"open", Command::Open},
    {"id3", Command::Id3},
}};
} // namespace

Command commandForElement(const QString &name)
{
    for (const auto &[element, command] : kCommands) {
        if (name == QLatin1String(element))
            return command;
    }
    return Command::None;
}

bool isGuarded(Command command)
{
    switch (command) {
    case Command::None:
    case Command::Converter: // the run ignores a second start itself
    case Command::Help:
    case Command::Stop:
        return false;
    default:
        return true;
    }
}
