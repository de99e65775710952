#pragma once

#include <functional>
#include <string>

// The result of replaceHead: 0 on success, the errno of the failed system
// call, or HeadRefused.
constexpr int HeadRefused = -1;

// Rewrites the first bytes of a file without ever leaving it half written.
// `edit` gets the file's first `headSize` bytes and may change them (or
// refuse with false). A new file is written in the original's folder (the
// new head, then the rest of the original) and takes the original's place by
// rename only once complete, with its mode and, where allowed, owner. A
// symbolic link is followed so the link itself stays. On any failure the
// original is untouched.
int replaceHead(const std::string &path, std::size_t headSize,
                const std::function<bool(std::string &head)> &edit);
