#include "launcher/store/chunk_file.h"

#include <fstream>
#include <memory>
#include <vector>

#include "launcher/text/text.h"
#include "launcher/transfer/background_sha256.h"
#include "launcher/transfer/sha256.h"

namespace launcher {

std::optional<ChunkedFile> ChunkFile(const std::filesystem::path& file, const std::string& path,
                                     WholeDigest whole) {
  std::ifstream in(file, std::ios::binary);
  if (!in.good()) return std::nullopt;
  ChunkedFile chunked{path, {}, 0, {}};
  std::unique_ptr<BackgroundSha256> wholeHash;
  if (whole == WholeDigest::Compute) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    wholeHash = std::make_unique<BackgroundSha256>(Sha256(), error ? 0 : size);
  }
  Sha256 part;
  std::uint64_t partStart = 0;
  ChunkCutter cutter;
  std::vector<char> buffer(kHashBufferSize);
  const auto endPart = [&] {
    chunked.chunks.push_back({{part.Finish()}, partStart, chunked.size - partStart});
    part = Sha256();
    partStart = chunked.size;
  };
  for (;;) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const auto count = static_cast<std::size_t>(in.gcount());
    if (count == 0) break;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
    if (wholeHash) wholeHash->Add(bytes, count);
    for (std::size_t at = 0; at < count;) {
      bool cut = false;
      const std::size_t taken = cutter.Scan(bytes + at, count - at, cut);
      part.Add(buffer.data() + at, taken);
      chunked.size += taken;
      at += taken;
      if (cut) endPart();
    }
  }
  if (in.bad()) return std::nullopt;
  if (chunked.size > partStart) endPart();
  if (wholeHash) chunked.sha256 = *Digest::FromHex(Narrow(wholeHash->FinishHex()));
  return chunked;
}

}  // namespace launcher
