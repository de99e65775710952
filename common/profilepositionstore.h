#pragma once

#include <functional>

// Where the output format dialog keeps its row: `read` at every opening,
// `write` on Ok, which throws a MessageError when the row cannot be kept.
struct ProfilePositionStore {
    std::function<int()> read;
    std::function<void(int)> write;
};
