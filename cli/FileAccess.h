// How corvelctl reads the files it is given and writes the files it makes:
// never more than a limit read into memory (a device or a runaway file would
// otherwise fill it), and an output that replaces a file either whole or not
// at all, never one that is its own input.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// At most `limit` bytes of the file at `path`; nothing (with `error` set)
// when it cannot be read or holds more than that.
std::optional<std::string> ReadAtMost(const std::string& path, std::size_t limit, std::string& error);

// Whether the two paths name one file (a link, another spelling, the same
// inode); false when either does not exist.
bool SameFile(const std::string& a, const std::string& b);

// Writes `content` to `path`. An existing regular file (or the file a link
// points to) is replaced only once the new content has been written whole
// beside it, so a failed write leaves the old file as it was; a device or
// pipe is written to directly. False with `error` set when it failed.
bool ReplaceFile(const std::string& path, std::string_view content, std::string& error);

}  // namespace cli
