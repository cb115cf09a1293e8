// Any bytes either end in the JSON reader's one Failure or give a feed whose digests are lower
// case, whose launcher entry exists exactly when its version is there, and which the publishing
// tool's writer gives back unchanged through the reader.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/feed/feed.h"
#include "launcher/text/failure.h"

namespace {

bool HasUpperCase(const std::wstring& text) {
  return text.find_first_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ") != std::wstring::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const launcher::Feed feed = launcher::ParseFeed(text);
    if (HasUpperCase(feed.release.sha256) || HasUpperCase(feed.filesSha256)) std::abort();
    if (feed.launcher && (feed.launcher->version.empty() || HasUpperCase(feed.launcher->sha256))) {
      std::abort();
    }
    const bool usable = launcher::IsUsableRelease(feed.release);
    if (usable && (feed.release.size == 0 || !launcher::IsPlainName(feed.release.file)))
      std::abort();
    if (launcher::ParseFeed(launcher::WriteFeed(feed)) != feed) std::abort();
  } catch (const launcher::Failure& failure) {
    if (failure.message != L"The update server answered with something that isn't a release.") {
      std::abort();
    }
  }
  return 0;
}
