#pragma once
// Plain ustar archives made in memory, so tests can craft exactly the entries they need
// (climbing names, absolute names, links) on both builds.

#include <string>
#include <vector>

namespace launcher::support {

struct TarEntry {
  std::string name;
  std::string content;
  char type = '0';  // '0' file, '5' folder, '2' symbolic link, '1' hard link, and the content of
                    // a GNU long name 'L' or a pax header 'x'
  std::string linkTarget;  // for links
  unsigned mode = 0;       // 0: 0644, or 0755 for a folder
};

std::string MakeTar(const std::vector<TarEntry>& entries);

// `bytes` in one gzip member, as gzip writes it.
std::string Gzip(const std::string& bytes);

// `bytes` in one zstd frame; with `windowLog`, a frame that says it needs a window that large.
std::string Zstd(const std::string& bytes, int windowLog = 0);

}  // namespace launcher::support
