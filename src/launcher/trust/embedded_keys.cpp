#include "launcher/trust/embedded_keys.h"

#include <string_view>

#include "launcher/trust/key_list.h"  // made by CMake from key_list.h.in

namespace launcher {

const std::vector<PublicKey>& EmbeddedKeys() {
  static const std::vector<PublicKey> keys = [] {
    std::vector<PublicKey> parsed;
    std::string_view list = kFeedKeyList;
    while (!list.empty()) {
      const std::size_t end = std::min(list.find(';'), list.size());
      if (const auto key = ParsePublicKey(list.substr(0, end))) parsed.push_back(*key);
      list.remove_prefix(std::min(end + 1, list.size()));
    }
    return parsed;
  }();
  return keys;
}

}  // namespace launcher
