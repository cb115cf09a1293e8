#include "tools/publish/archive_maker.h"

#include <cstdint>
#include <fstream>

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

}  // namespace launcher::publish
