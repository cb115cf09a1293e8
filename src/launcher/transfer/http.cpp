#include "launcher/transfer/http.h"

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/transfer/interruptions.h"

namespace launcher {

std::uint64_t AcceptResponse(std::uint32_t status, std::uint64_t from,
                             const std::wstring* contentRange) {
  if (status == 200) return 0;  // the whole resource, even when a range was asked for
  if (status == 206 && from > 0) {
    if (contentRange == nullptr || !contentRange->starts_with(Format(L"bytes {}-", from))) {
      throw Failure{L"The server answered with another part of the file"};
    }
    return from;
  }
  if (status == 416 && from > 0) throw RangeRefused{};
  throw Failure{Format(L"The server answered {}", status)};
}

std::wstring WithSystemText(const std::wstring& prefix, std::wstring systemText) {
  while (!systemText.empty() &&
         (systemText.back() == L'\n' || systemText.back() == L'\r' || systemText.back() == L'.')) {
    systemText.pop_back();
  }
  return Format(L"{}: {}", prefix, systemText);
}

}  // namespace launcher
