#include "tools/publish/archive_maker.h"

#include <fstream>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"

namespace launcher::publish {

void WriteNameList(const std::vector<std::wstring>& names, const std::filesystem::path& list) {
  std::ofstream out(list, std::ios::binary);
  for (const auto& name : names) out << Narrow(name) << '\0';
  if (!out.flush()) throw Failure{L"The archive's list of names couldn't be written"};
}

}  // namespace launcher::publish
