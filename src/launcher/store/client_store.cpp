#include "launcher/store/client_store.h"

#include <algorithm>
#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/store/durable_replace.h"
#include "launcher/text/failure.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

bool IsSpace(char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// The endings of the store's own files and working names.
constexpr const wchar_t* kReservedEndings[] = {L".partial", L".download", L".parts", L".record",
                                               L".txt",     L".tmp",      L".log"};

}  // namespace

bool IsStorableVersion(const std::wstring& version) {
  const std::wstring name = Lowercase(version);
  return std::none_of(std::begin(kReservedEndings), std::end(kReservedEndings),
                      [&](const wchar_t* ending) { return name.ends_with(ending); });
}

std::wstring ClientStore::Current() const {
  std::string bytes = ReadWholeFile(root / "current.txt");
  while (!bytes.empty() && IsSpace(bytes.back())) bytes.pop_back();
  std::wstring version = Widen(bytes);
  if (!IsPlainName(version)) return {};
  std::error_code error;
  const auto status = std::filesystem::status(Executable(version), error);
  if (error || status.type() == std::filesystem::file_type::not_found) return {};
  return version;
}

std::filesystem::path ClientStore::Executable(const std::wstring& version) const {
  return root / PathFromWide(version) / "Quellorn.exe";
}

void ClientStore::Prune() const {
  // Without a current version there is nothing to keep by: removing everything would lose the game.
  const std::wstring keep = Lowercase(Current());
  if (keep.empty()) return;
  RemoveAllBut({keep});
}

void ClientStore::RemoveLeftovers(const std::wstring& installing) const {
  const std::wstring version = Lowercase(installing);
  std::vector<std::wstring> keep = {version + L".download", version + L".partial",
                                    version + L".parts"};
  // Nothing current: nothing else to keep, and every older leftover can go.
  const std::wstring current = Lowercase(Current());
  if (!current.empty()) keep.push_back(current);
  RemoveAllBut(keep);
}

void ClientStore::RemoveAllBut(const std::vector<std::wstring>& keep) const {
  std::error_code error;
  std::filesystem::directory_iterator entry(root, error);
  if (error) return;
  for (; entry != std::filesystem::directory_iterator(); ++entry) {
    const std::wstring name = Lowercase(WideFromPath(entry->path().filename()));
    if (name == L"current.txt" || std::find(keep.begin(), keep.end(), name) != keep.end()) {
      continue;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(std::filesystem::status(entry->path(), ignored))) {
      std::filesystem::remove_all(entry->path(), ignored);
    } else {
      std::filesystem::remove(entry->path(), ignored);
    }
  }
}

void ClientStore::NameCurrent(const std::wstring& version) const {
  if (!ReplaceFileDurably(root / "current.txt", root / "current.txt.tmp", Narrow(version))) {
    throw Failure{L"The new version couldn't be named current"};
  }
}

}  // namespace launcher
