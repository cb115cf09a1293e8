#include "launcher/transfer/sha256.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "launcher/text/format.h"

namespace launcher {

std::wstring Sha256::FinishHex() {
  return Digest{Finish()}.Hex();
}

Digest DigestOf(std::string_view bytes) {
  Sha256 hasher;
  // Added in slices: the platform call takes a 32-bit count.
  for (size_t at = 0; at < bytes.size(); at += kHashBufferSize) {
    hasher.Add(bytes.data() + at, std::min(kHashBufferSize, bytes.size() - at));
  }
  return {hasher.Finish()};
}

std::wstring Sha256Hex(std::string_view bytes) {
  return DigestOf(bytes).Hex();
}

std::uint64_t AddFilePrefix(Sha256& hasher, const std::filesystem::path& file,
                            std::uint64_t limit) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return 0;
  std::vector<char> buffer(kHashBufferSize);
  std::uint64_t added = 0;
  while (added < limit) {
    const auto wanted =
        static_cast<std::streamsize>(std::min<std::uint64_t>(buffer.size(), limit - added));
    in.read(buffer.data(), wanted);
    const std::streamsize got = in.gcount();
    if (got <= 0) break;
    hasher.Add(buffer.data(), static_cast<size_t>(got));
    added += static_cast<std::uint64_t>(got);
  }
  return added;
}

}  // namespace launcher
