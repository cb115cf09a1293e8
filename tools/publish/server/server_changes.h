#pragma once
// What one publishing run adds to the server folder, taken back if the run fails: files appear
// under their final names only by a move from a temporary name, and every file the run created
// is removed again unless the run commits.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace launcher::publish {

class ServerChanges {
 public:
  ServerChanges() = default;
  ~ServerChanges();  // removes what was added, unless committed
  ServerChanges(const ServerChanges&) = delete;
  ServerChanges& operator=(const ServerChanges&) = delete;

  // Creates the folder and those above it that are missing; they go again on failure.
  void MakeFolders(const std::filesystem::path& folder);

  // A fresh temporary name beside `target`, removed when the run ends either way.
  std::filesystem::path Temporary(const std::filesystem::path& target);

  // Moves `temporary` onto `target`; a target that didn't exist before is taken back on failure.
  void Place(const std::filesystem::path& temporary, const std::filesystem::path& target);

  // Writes `bytes` to `target` durably through a temporary file.
  void Write(const std::filesystem::path& target, std::string_view bytes);

  // Writes every file to its temporary name first, then moves them into place in the given order
  // one right after the other: a feed and its signature change together.
  void WriteTogether(const std::vector<std::pair<std::filesystem::path, std::string>>& files);

  void Commit() { committed_ = true; }

 private:
  std::vector<std::filesystem::path> temporaries_;
  std::vector<std::filesystem::path> created_;
  std::vector<std::filesystem::path> folders_;  // outermost first
  bool committed_ = false;
};

}  // namespace launcher::publish
