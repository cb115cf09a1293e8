// Any bytes either end in the file list's one Failure or give entries whose every path can be
// placed safely inside a folder, no longer than a path may be; the publishing tool's writer gives
// the same entries back through the parser.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/feed/file_list.h"
#include "launcher/text/failure.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::vector<launcher::Listed> entries = launcher::ParseFileList(text);
    if (launcher::ParseFileList(launcher::FormatFileList(entries)) != entries) std::abort();
    for (const launcher::Listed& listed : entries) {
      const auto placed = launcher::SafeJoin("store", launcher::Widen(listed.path));
      if (placed.empty()) std::abort();
      // Nothing climbs out: the joined path stays below the folder, part by part.
      for (const auto& part : placed.lexically_relative("store")) {
        if (part == ".." || part == "." || part.empty()) std::abort();
      }
      // Characters, as UTF-32 counts them.
      if (launcher::Widen(listed.path).size() > launcher::kLongestListedPath) std::abort();
    }
  } catch (const launcher::Failure& failure) {
    if (failure.message != L"The release's file list isn't one") std::abort();
  }
  return 0;
}
