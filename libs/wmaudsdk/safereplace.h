#pragma once

#include <functional>
#include <string>

// Rewrites a file without ever leaving it half written: the file is copied
// to a temporary file in its own folder, `edit` changes the copy, and only a
// copy that `edit` accepted replaces the original (by rename, with the
// original's mode and, where allowed, owner). A symbolic link is followed so
// the link itself stays. False leaves the original untouched.
bool replaceThroughCopy(const std::string &path, const std::function<bool(const std::string &copy)> &edit);
