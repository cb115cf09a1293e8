#include "tools/publish/server/archive_maker.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <vector>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"

namespace launcher::publish {

void WriteNameList(const std::vector<std::wstring>& names, const std::filesystem::path& list) {
  std::ofstream out(list, std::ios::binary);
  for (const auto& name : names) out << Narrow(name) << '\0';
  if (!out.flush()) throw Failure{L"The archive's list of names couldn't be written"};
}

bool WorthCompressing(const std::filesystem::path& packed, const std::filesystem::path& plain,
                      std::error_code& error) {
  std::error_code measured;
  const std::uintmax_t packedSize = std::filesystem::file_size(packed, measured);
  const std::uintmax_t plainSize = std::filesystem::file_size(plain, error);
  if (measured) error = measured;
  return !error && packedSize < plainSize - plainSize / 20;
}

bool WriteSample(const std::filesystem::path& build, const std::vector<std::wstring>& names,
                 const std::filesystem::path& sample) {
  constexpr std::uint64_t kStretch = 256 << 10;
  constexpr std::uint64_t kStretches = 16;
  std::vector<std::uint64_t> sizes;
  std::uint64_t total = 0;
  for (const std::wstring& name : names) {
    std::error_code error;
    sizes.push_back(std::filesystem::file_size(build / PathFromWide(name), error));
    if (error) return false;
    total += sizes.back();
  }
  if (total < 16 * kStretches * kStretch) return false;
  std::ofstream out(sample, std::ios::binary);
  std::vector<char> stretch(kStretch);
  std::size_t file = 0;
  std::uint64_t fileStart = 0;  // of `file`, in all the files' bytes
  for (std::uint64_t i = 0; i < kStretches && out; ++i) {
    std::uint64_t at = total / kStretches * i;
    std::uint64_t wanted = kStretch;
    while (wanted > 0 && file < names.size()) {
      if (at >= fileStart + sizes[file]) {
        fileStart += sizes[file++];
        continue;
      }
      std::ifstream in(build / PathFromWide(names[file]), std::ios::binary);
      in.seekg(static_cast<std::streamoff>(at - fileStart));
      const std::uint64_t piece = std::min(wanted, fileStart + sizes[file] - at);
      if (!in.read(stretch.data(), static_cast<std::streamsize>(piece))) return false;
      out.write(stretch.data(), static_cast<std::streamsize>(piece));
      at += piece;
      wanted -= piece;
    }
  }
  return out.flush().good();
}

bool TapFile(const std::filesystem::path& plain, const ArchiveTap& tap) {
  std::ifstream in(plain, std::ios::binary);
  std::vector<char> block(1 << 20);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
    tap(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  return !in.bad() && in.eof();
}

}  // namespace launcher::publish
