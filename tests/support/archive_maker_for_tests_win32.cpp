// Under Wine: Windows' tar.exe isn't there to write archives, so the tests' ustar writer does.

#include <fstream>

#include "launcher/text/text.h"
#include "support/archive_maker_for_tests.h"
#include "support/tar_writer.h"
#include "support/temporary_folder.h"

namespace launcher::support {

const wchar_t* const kTestArchiveEnding = L".tar";

publish::ArchiveMaker ArchiveMakerForTests() {
  return [](const std::filesystem::path& build, const std::vector<std::wstring>& names,
            const std::filesystem::path& archive, const publish::ArchiveTap& tap) {
    std::vector<TarEntry> entries;
    for (const auto& name : names) {
      TarEntry entry;
      entry.name = Narrow(name);
      entry.content = ReadFile(build / PathFromWide(name));
      entries.push_back(entry);
    }
    const std::string bytes = MakeTar(entries);
    tap(bytes.data(), bytes.size());
    std::ofstream(archive, std::ios::binary) << bytes;
    return false;  // a plain tar
  };
}

}  // namespace launcher::support
