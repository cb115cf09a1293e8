#include "tools/publish/server/build_scan.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "launcher/feed/file_list.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher::publish {
namespace {

// The name as the file list spells it, or empty when some part isn't text the list can carry
// (on Linux a name may be any bytes, and only UTF-8 survives the trip).
std::wstring ListName(const std::filesystem::path& relative) {
  std::wstring name;
  for (const auto& part : relative) {
    const std::wstring text = WideFromPath(part);
    if (PathFromWide(text) != part) return {};
    name += (name.empty() ? L"" : L"/") + text;
  }
  // The list's own parser is the judge: any name it would refuse can't be published.
  try {
    const Listed probe{Narrow(name), Digest{}, 0};
    if (ParseFileList(FormatFileList({probe})) == std::vector<Listed>{probe}) return name;
  } catch (const Failure&) {
  }
  return {};
}

}  // namespace

std::vector<BuildFile> ScanBuild(const std::filesystem::path& build) {
  std::error_code error;
  if (!std::filesystem::is_directory(build, error)) {
    throw Failure{Format(L"{} isn't a folder", WideFromPath(build))};
  }
  std::vector<BuildFile> files;
  try {
    for (auto entry = std::filesystem::recursive_directory_iterator(build);
         entry != std::filesystem::recursive_directory_iterator(); ++entry) {
      const auto status = entry->symlink_status();
      const std::wstring shown = WideFromPath(entry->path());
      if (std::filesystem::is_symlink(status)) {
        throw Failure{Format(L"{} is a link: a release holds plain files only", shown)};
      }
      if (std::filesystem::is_directory(status)) continue;
      if (!std::filesystem::is_regular_file(status)) {
        throw Failure{Format(L"{} isn't a plain file", shown)};
      }
      const std::wstring name = ListName(entry->path().lexically_relative(build));
      if (name.empty()) {
        throw Failure{
            Format(L"{}: the name can't be carried by a file list (it must be UTF-8 "
                   L"and hold none of \\ : * ? \" < > |, nor parts that are . or ..)",
                   shown)};
      }
      files.push_back({entry->path(), name, entry->file_size()});
    }
  } catch (const std::filesystem::filesystem_error& failure) {
    throw Failure{Format(L"The build folder couldn't be read: {}", Widen(failure.what()))};
  }
  std::sort(files.begin(), files.end(),
            [](const BuildFile& a, const BuildFile& b) { return Narrow(a.name) < Narrow(b.name); });
  // Windows folders don't tell letter case apart, so such names would overwrite each other.
  std::map<std::wstring, std::wstring> seen;
  for (const BuildFile& file : files) {
    const auto [place, added] = seen.emplace(Lowercase(file.name), file.name);
    if (!added) {
      throw Failure{Format(L"{} and {} differ only in letter case, which Windows can't hold apart",
                           place->second, file.name)};
    }
  }
  if (std::none_of(files.begin(), files.end(),
                   [](const BuildFile& file) { return file.name == L"Quellorn.exe"; })) {
    throw Failure{Format(L"{} has no Quellorn.exe at its top", WideFromPath(build))};
  }
  return files;
}

std::vector<std::wstring> EmptyFolders(const std::filesystem::path& build) {
  std::vector<std::wstring> empty;
  std::error_code error;
  for (auto entry = std::filesystem::recursive_directory_iterator(build, error);
       !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    std::error_code ignored;
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored) &&
        std::filesystem::is_empty(entry->path(), ignored)) {
      empty.push_back(WideFromPath(entry->path().lexically_relative(build).generic_wstring()));
    }
  }
  std::sort(empty.begin(), empty.end());
  return empty;
}

}  // namespace launcher::publish
