#include "tools/publish/archive_maker.h"

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

bool WriteSample(const std::filesystem::path& plain, const std::filesystem::path& sample) {
  constexpr std::uint64_t kStretch = 256 << 10;
  constexpr std::uint64_t kStretches = 16;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(plain, error);
  if (error || size < 16 * kStretches * kStretch) return false;
  std::ifstream in(plain, std::ios::binary);
  std::ofstream out(sample, std::ios::binary);
  std::vector<char> stretch(kStretch);
  for (std::uint64_t i = 0; i < kStretches && in && out; ++i) {
    in.seekg(static_cast<std::streamoff>(size / kStretches * i));
    in.read(stretch.data(), static_cast<std::streamsize>(stretch.size()));
    out.write(stretch.data(), in.gcount());
  }
  return in.good() && out.flush().good();
}

}  // namespace launcher::publish
