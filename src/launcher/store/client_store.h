#pragma once
// The client store: the folder "Client" beside the launcher, one folder per installed version and
// current.txt naming the one to start. A version becomes current only by an atomic replace of
// current.txt, so the previous one stays startable until the new one is complete. Used from one
// thread at a time; the single-instance lock keeps other launchers away.

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/feed/file_list.h"
#include "launcher/feed/release.h"
#include "launcher/store/stage.h"

namespace launcher {

class ClientStore {
 public:
  explicit ClientStore(std::filesystem::path storeRoot) : root(std::move(storeRoot)) {}

  // The current version's name, or empty when current.txt is missing, unreadable, not a plain
  // name (trailing white space is forgiven) or names a version without its executable.
  std::wstring Current() const;

  // root / version / "Quellorn.exe"; doesn't touch the disk.
  std::filesystem::path Executable(const std::wstring& version) const;

  // Removes every entry of the root but the current version's folder and current.txt. Does
  // nothing when no version is current. Throws std::filesystem::filesystem_error only when the
  // listing can't be advanced.
  void Prune() const;

  // Brings `release` into the store and makes it current: by its archive, or file by file when
  // a current version holds enough of `listed` to carry over. All or nothing: until the last step
  // the previous version stays current and untouched, and what a failed attempt leaves is reused
  // by the next. `base` is the feed's folder URL, ending in "/". Throws Failure or
  // std::filesystem::filesystem_error.
  void Install(const Release& release, const std::wstring& base, const std::vector<Listed>& listed,
               const InstallProgress& progress) const;

  // Makes `version` current through current.txt.tmp, whose bytes reach the disk before the
  // atomic move. Throws Failure("The new version couldn't be named current") when any step fails;
  // current.txt then still names the previous version.
  void NameCurrent(const std::wstring& version) const;

  const std::filesystem::path root;
};

}  // namespace launcher
