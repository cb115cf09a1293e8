#pragma once
// The launcher's update decision: one call looks at the feed, brings what is out of date up to
// date and names the one program to start next, the game or a new launcher's installer. It leans
// on the installed version wherever it can: with a version installed, no failure of the feed or
// the install reaches the player. Runs on the calling thread; starts nothing itself.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "launcher/platform/held_file.h"
#include "launcher/store/client_store.h"
#include "launcher/update/trusted_feed.h"

namespace launcher {

struct Progress {
  std::wstring text;               // the one status line
  std::optional<double> fraction;  // 0 to 1, absent when no share is known
};

struct Ready {
  std::filesystem::path path;  // the game's executable, or the downloaded launcher installer
  bool isInstaller = false;
  // The installer, verified through this handle: held until it has been started, so that
  // nobody can swap it in between.
  std::shared_ptr<HeldFile> held;
};

using ProgressCallback = std::function<void(const Progress&)>;

// What one run did, for whoever ran it in check mode: the version it started from and the one it
// names, how it got there, the bytes the install fetched and kept, and how each listed file came.
struct UpdateSummary {
  std::wstring from;     // the version installed before; empty when there was none
  std::wstring version;  // the version named to start, or the launcher installer's
  // "up to date", "archive", "file by file", "launcher", or "installed" (the installed version
  // starts without an update: no feed, an older release, a failed install)
  std::wstring how;
  std::uint64_t fetched = 0;
  std::uint64_t kept = 0;
  std::vector<std::pair<std::string, Came>> files;  // by the list, when an update was installed
};

// Throws Failure with the player's message only when no usable version is installed; other
// exceptions (from the store, the progress callback) pass through. A feed that `trust` refuses
// counts as one that couldn't be fetched. An up-to-date version is looked at by its record and
// what has changed is fetched again; with `repair` every file of it is hashed instead, and an
// update hashes the files it keeps. `summary`, when given, is filled in.
Ready Prepare(const std::wstring& feedUrl, const ClientStore& store,
              const ProgressCallback& progress, bool launcherUpdateAllowed,
              const std::filesystem::path& temporaryDirectory,
              const FeedTrust& trust = BuiltInTrust(), bool repair = false,
              UpdateSummary* summary = nullptr);

// Lets a progress report through only when it would show something new: another kind, total,
// count in the unit shown, or thousandth of the bar. Formatting and repainting then follow what
// a player can see (a few thousand times for any download), never every block; and the last
// state before a pause is always the one shown.
class ProgressPace {
 public:
  bool Changes(int kind, std::uint64_t done, std::uint64_t total, double unit);

 private:
  struct Shown {
    int kind = -1;
    std::uint64_t total = 0;
    long long units = 0;
    long long thousandths = 0;
    bool operator==(const Shown&) const = default;
  };
  Shown last_;
};

// Turns the bytes of a launcher installer on disk into the player's progress line.
struct ReportLauncherProgress {
  const Release& launcher;  // usable, so its size is above 0
  const ProgressCallback& progress;
  double totalMegabytes;
  ProgressPace pace{};

  void operator()(std::uint64_t held);
};

// Turns an install's stage reports into the player's progress line under `title`, and keeps
// the last counts for the log.
struct ReportInstallProgress {
  const std::wstring& title;
  const ProgressCallback& progress;
  std::uint64_t keptWhole = 0;   // bytes of files carried over from the current version
  std::uint64_t taken = 0;       // and of chunks taken from its changed large files
  std::uint64_t patched = 0;     // bytes fetched for those large files
  std::uint64_t downloaded = 0;  // bytes of whole files downloaded
  ProgressPace pace{};

  void operator()(Stage stage, std::uint64_t done, std::uint64_t total);
  std::uint64_t Kept() const { return keptWhole + taken; }
  std::uint64_t Fetched() const { return patched + downloaded; }
};

// The host a URL asks, for the player's message; the website's host when it names none.
std::wstring HostOf(const std::wstring& url);

}  // namespace launcher
