#include "launcher/shell/instance_lock.h"

#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher {

std::wstring InstanceLockName(const std::wstring& storeRoot) {
  std::wstring key = Lowercase(storeRoot);
  for (auto& unit : key) {
    if (unit == L'\\') unit = L'/';
  }
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char16_t unit : ToUtf16(key)) {
    for (const auto byte :
         {static_cast<std::uint8_t>(unit & 0xFF), static_cast<std::uint8_t>(unit >> 8)}) {
      hash ^= byte;
      hash *= 0x100000001b3u;
    }
  }
  return Format(L"Local\\QuellornLauncher-{:016x}", hash);
}

}  // namespace launcher
