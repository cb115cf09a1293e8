#include "tools/publish/server/server_changes.h"

#include <system_error>

#include "launcher/platform/durable_replace.h"
#include "launcher/platform/move_into_place.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher::publish {

ServerChanges::~ServerChanges() {
  std::error_code ignored;
  for (const auto& temporary : temporaries_) std::filesystem::remove(temporary, ignored);
  if (committed_) return;
  for (const auto& file : created_) std::filesystem::remove(file, ignored);
  // Innermost first; remove() leaves a folder that isn't empty.
  for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) {
    std::filesystem::remove(*folder, ignored);
  }
}

void ServerChanges::MakeFolders(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> missing;
  std::error_code error;
  for (auto at = std::filesystem::absolute(folder, error);
       !error && !at.empty() && !std::filesystem::exists(at, error); at = at.parent_path()) {
    missing.insert(missing.begin(), at);
    if (at == at.parent_path()) break;
  }
  for (const auto& at : missing) {
    if (!std::filesystem::create_directory(at, error) && error) break;
    folders_.push_back(at);
  }
  if (!std::filesystem::is_directory(folder, error)) {
    throw Failure{Format(L"The server folder {} couldn't be written", WideFromPath(folder))};
  }
}

std::filesystem::path ServerChanges::Temporary(const std::filesystem::path& target) {
  // A name no launcher asks for: the feed never names a file with a leading dot.
  std::filesystem::path temporary =
      target.parent_path() /
      PathFromWide(
          Format(L".{}.{}.publishing", WideFromPath(target.filename()), temporaries_.size()));
  temporaries_.push_back(temporary);
  return temporary;
}

void ServerChanges::Place(const std::filesystem::path& temporary,
                          const std::filesystem::path& target) {
  std::error_code error;
  const bool existed = std::filesystem::exists(target, error);
  try {
    MoveIntoPlace(temporary, target);
  } catch (const std::filesystem::filesystem_error&) {
    throw Failure{Format(L"{} couldn't be written", WideFromPath(target))};
  }
  if (!existed) created_.push_back(target);
}

void ServerChanges::WriteTogether(
    const std::vector<std::pair<std::filesystem::path, std::string>>& files) {
  std::vector<std::filesystem::path> written;
  for (const auto& [target, bytes] : files) {
    written.push_back(Temporary(target));
    if (!WriteFileDurably(written.back(), bytes)) {
      throw Failure{Format(L"{} couldn't be written", WideFromPath(target))};
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) Place(written[i], files[i].first);
}

void ServerChanges::Write(const std::filesystem::path& target, std::string_view bytes) {
  std::error_code error;
  const bool existed = std::filesystem::exists(target, error);
  if (!ReplaceFileDurably(target, Temporary(target), bytes)) {
    throw Failure{Format(L"{} couldn't be written", WideFromPath(target))};
  }
  if (!existed) created_.push_back(target);
}

}  // namespace launcher::publish
