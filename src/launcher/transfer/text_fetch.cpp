#include "launcher/transfer/text_fetch.h"

#include "launcher/text/failure.h"
#include "launcher/transfer/http.h"

namespace launcher {

std::string GetText(const std::wstring& url, std::uint64_t limit, bool noCache) {
  std::string text;
  // Never a ranged request: only a 200 is accepted.
  Request request;
  request.noCache = noCache;
  request.whole = true;
  HttpGet(
      url, request, [](std::uint64_t) {},
      [&](const std::uint8_t* bytes, std::uint64_t count) {
        if (text.size() + count > limit) {
          throw Failure{L"The update server answered with far too much"};
        }
        text.append(reinterpret_cast<const char*>(bytes), count);
      });
  return text;
}

}  // namespace launcher
