#include "launcher/transfer/text_fetch.h"

#include <algorithm>
#include <functional>

#include "launcher/text/failure.h"
#include "launcher/transfer/http.h"

namespace launcher {

namespace {

// The body block by block, at most `limit` bytes in all. Never a ranged request: only a 200 is
// accepted.
void GetBody(const std::wstring& url, std::uint64_t limit, bool noCache,
             const std::function<void(const char*, std::size_t)>& take) {
  Request request;
  request.noCache = noCache;
  request.whole = true;
  std::uint64_t received = 0;
  HttpGet(
      url, request, [](std::uint64_t) {},
      [&](const std::uint8_t* bytes, std::uint64_t count) {
        if (received + count > limit) {
          throw Failure{L"The update server answered with far too much"};
        }
        received += count;
        take(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(count));
      });
}

}  // namespace

std::string GetText(const std::wstring& url, std::uint64_t limit, bool noCache) {
  std::string text;
  GetBody(url, limit, noCache,
          [&](const char* bytes, std::size_t count) { text.append(bytes, count); });
  return text;
}

std::vector<std::string> GetTextInBlocks(const std::wstring& url, std::uint64_t limit) {
  std::vector<std::string> blocks;
  GetBody(url, limit, false, [&](const char* bytes, std::size_t count) {
    while (count > 0) {
      if (blocks.empty() || blocks.back().size() == kTextBlockSize) {
        blocks.emplace_back().reserve(kTextBlockSize);
      }
      const std::size_t part = std::min(count, kTextBlockSize - blocks.back().size());
      blocks.back().append(bytes, part);
      bytes += part;
      count -= part;
    }
  });
  return blocks;
}

}  // namespace launcher
