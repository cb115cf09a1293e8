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
#include <vector>

#include "launcher/platform/held_file.h"
#include "launcher/store/client_store.h"
#include "launcher/trust/embedded_keys.h"
#include "launcher/trust/signature.h"

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

// What a launcher built with the publisher's keys requires of a feed before it believes it.
struct FeedTrust {
  std::vector<PublicKey> keys;  // none: every readable feed is believed
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

using ProgressCallback = std::function<void(const Progress&)>;

// Throws Failure with the player's message only when no usable version is installed; other
// exceptions (from the store, the progress callback) pass through. A feed that `trust` refuses
// counts as one that couldn't be fetched.
Ready Prepare(const std::wstring& feedUrl, const ClientStore& store,
              const ProgressCallback& progress, bool launcherUpdateAllowed,
              const std::filesystem::path& temporaryDirectory,
              const FeedTrust& trust = {EmbeddedKeys()});

// At most one progress line every 50 ms: each costs formatting and a repaint, and nobody reads
// faster. The first report, one of another kind and one that completes its count always pass.
class ProgressPace {
 public:
  bool Due(int kind, bool complete);

 private:
  std::chrono::steady_clock::time_point next_{};
  int kind_ = -1;
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
  std::uint64_t kept = 0;     // bytes carried over from the current version
  std::uint64_t fetched = 0;  // bytes downloaded
  ProgressPace pace{};

  void operator()(Stage stage, std::uint64_t done, std::uint64_t total);
};

// The host a URL asks, for the player's message; the website's host when it names none.
std::wstring HostOf(const std::wstring& url);

}  // namespace launcher
