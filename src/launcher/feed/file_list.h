#pragma once
// A release's file list: one line per file, "digest TAB size TAB path", which lets an update keep
// the files that haven't changed. Pure logic. Held in about its own size in memory: a list may
// name a million files.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/text/digest.h"

namespace launcher {

struct Listed {
  std::string path;  // UTF-8, "/" between folders, relative to the release's root
  Digest sha256;
  std::uint64_t size = 0;

  bool operator==(const Listed&) const = default;
};

// The most a list may name, and the longest path it may give (in characters).
inline constexpr std::size_t kMostListedFiles = 1000000;
inline constexpr std::size_t kLongestListedPath = 1024;

// The entries in the order of the lines. Throws Failure("The release's file list isn't one")
// for any malformed non-empty line, for more than `most` entries or a path longer than
// kLongestListedPath, and for a list that names one place twice: a path twice (in any ASCII
// letter case) or a file where another path needs a folder. Never returns part of a list.
std::vector<Listed> ParseFileList(std::string_view text, std::size_t most = kMostListedFiles);

// The same of a list held in consecutive blocks (as it arrived), each released once read: a
// large list's text and its entries are never all held at once.
std::vector<Listed> ParseFileList(std::vector<std::string> blocks,
                                  std::size_t most = kMostListedFiles);

// The list as the publishing tool writes it: one "digest TAB size TAB path" line per entry, in
// the given order, each ending in a line feed; no byte order mark.
std::string FormatFileList(const std::vector<Listed>& entries);

}  // namespace launcher
