#include "launcher/store/staged_tree.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <unordered_map>

#include "launcher/store/links.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/safe_join.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

// Every regular file below `staging` by its "/"-separated relative path, ASCII letter case
// folded, with its size.
std::unordered_map<std::wstring, std::uint64_t> WalkFiles(const std::filesystem::path& staging) {
  std::unordered_map<std::wstring, std::uint64_t> files;
  std::error_code error;
  std::filesystem::recursive_directory_iterator entry(staging, error);
  const auto unreadable = [&] {
    throw Failure{Format(L"The release's folder couldn't be read: {}", Widen(error.message()))};
  };
  if (error) unreadable();
  for (; entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    if (error) unreadable();
    const std::filesystem::path& path = entry->path();
    std::wstring relative = WideFromPath(path.lexically_relative(staging));
    std::replace(relative.begin(), relative.end(), L'\\', L'/');  // as the file list spells it
    if (IsLink(path)) {
      throw Failure{
          Format(L"The release's {} is a link, which a game folder may not hold", relative)};
    }
    const auto status = entry->symlink_status(error);
    if (error) unreadable();
    if (std::filesystem::is_directory(status)) continue;
    if (!std::filesystem::is_regular_file(status)) {
      throw Failure{Format(L"The release's {} isn't a plain file", relative)};
    }
    const std::uint64_t size = entry->file_size(error);
    if (error) unreadable();
    files.emplace(Lowercase(std::move(relative)), size);
  }
  if (error) unreadable();
  return files;
}

}  // namespace

void CheckStagedTree(const std::filesystem::path& staging, const std::vector<Listed>& listed,
                     bool exact) {
  const std::unordered_map<std::wstring, std::uint64_t> files = WalkFiles(staging);
  for (const Listed& entry : listed) {
    const std::wstring path = Widen(entry.path);
    const auto found = files.find(Lowercase(path));
    std::uint64_t size = 0;
    if (found != files.end()) {
      size = found->second;
    } else {
      // Spelled in another case than ASCII folding knows: ask the file system itself.
      std::error_code error;
      const std::filesystem::path placed = SafeJoin(staging, path);
      if (exact || !std::filesystem::is_regular_file(placed, error)) {
        throw Failure{Format(L"The release's {} didn't arrive", path)};
      }
      size = std::filesystem::file_size(placed, error);
    }
    if (size != entry.size) {
      throw Failure{Format(L"The release's {} didn't arrive whole", path)};
    }
  }
  // Two listed paths that are one file on this disk show as fewer files than entries.
  if (exact && files.size() != listed.size()) {
    throw Failure{L"The release's folder doesn't hold exactly what its file list names"};
  }
}

}  // namespace launcher
