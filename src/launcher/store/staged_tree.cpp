#include "launcher/store/staged_tree.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "launcher/platform/links.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// Walks the whole tree below `staging`, refusing links and anything but plain files and folders;
// returns how many files it holds. Nothing per file is kept: a game's hundred thousand files
// cost no memory here.
std::uint64_t CountPlainFiles(const std::filesystem::path& staging) {
  std::uint64_t files = 0;
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(staging, error);
  const auto unreadable = [&] {
    throw Failure{Format(L"The release's folder couldn't be read: {}", Widen(error.message()))};
  };
  const auto relative = [&](const std::filesystem::path& path) {
    std::wstring text = WideFromPath(path.lexically_relative(staging));
    std::replace(text.begin(), text.end(), L'\\', L'/');  // as the file list spells it
    return text;
  };
  if (error) unreadable();
  for (; entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (error) unreadable();
    const std::filesystem::path& path = entry->path();
    if (IsLink(path)) {
      throw Failure{
          Format(L"The release's {} is a link, which a game folder may not hold", relative(path))};
    }
    const auto status = entry->symlink_status(error);
    if (error) unreadable();
    if (std::filesystem::is_directory(status)) continue;
    if (!std::filesystem::is_regular_file(status)) {
      throw Failure{Format(L"The release's {} isn't a plain file", relative(path))};
    }
    ++files;
  }
  if (error) unreadable();
  return files;
}

}  // namespace

void CheckStagedTree(const std::filesystem::path& staging, const std::vector<Listed>& listed,
                     bool exact) {
  // No links anywhere: from here on every path below `staging` names a plain file or folder.
  const std::uint64_t files = CountPlainFiles(staging);
  for (const Listed& entry : listed) {
    const std::wstring path = Widen(entry.path);
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(SafeJoin(staging, path), error);
    if (error) throw Failure{Format(L"The release's {} didn't arrive", path)};
    if (size != entry.size) {
      throw Failure{Format(L"The release's {} didn't arrive whole", path)};
    }
  }
  // Every listed path is a file; any more files are unlisted ones. (Two listed paths that are
  // one file on this disk can't be: such a list is malformed.)
  if (exact && files != listed.size()) {
    throw Failure{L"The release's folder doesn't hold exactly what its file list names"};
  }
}

}  // namespace launcher
