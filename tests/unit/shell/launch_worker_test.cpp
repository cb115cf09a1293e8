#include "launcher/shell/launch_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "launcher/shell/executable_directory.h"
#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/text/website.h"
#include "support/temporary_folder.h"
#include "support/wait_for_file.h"

namespace launcher {
namespace {

// The run's attempts as the start-up holds them, with Prepare replaced by a script.
class LaunchWorkerTest : public testing::Test {
 protected:
  LaunchWorkerTest() : store_(folder_.path() / "Client") {}

  LaunchAttempts& Attempts(PrepareFunction prepare) {
    attempts_.emplace(
        AttemptSettings{feedUrl_, folder_.path() / "temp", arguments_, true, std::move(prepare)},
        store_, splash_);
    return *attempts_;
  }

  // A copy of the recording program where Prepare would name the game or the installer.
  std::filesystem::path PlaceProgram(const std::filesystem::path& relative) {
    const auto program = folder_.path() / relative;
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::copy_file(ExecutableDirectory() / LAUNCHER_RECORD_FILE_NAME, program);
    return program;
  }

  SplashSnapshot State() { return TakeSnapshot(splash_); }

  support::TemporaryFolder folder_;
  const std::wstring feedUrl_ = L"http://127.0.0.1:9/latest.json";
  const ClientStore store_;
  std::wstring arguments_;
  Splash splash_;
  std::optional<LaunchAttempts> attempts_;  // declared last: joined before the rest goes
};

TEST_F(LaunchWorkerTest, AFailureIsShownWordForWordAndAnythingElseAsSomethingWentWrong) {
  struct Case {
    std::function<void()> fail;
    std::wstring shown;
  };
  const Case cases[] = {
      {[] {
         throw Failure{L"The update server answered with nothing to install. Try again later."};
       },
       L"The update server answered with nothing to install. Try again later."},
      {[] { throw std::runtime_error("disk trouble"); }, L"Something went wrong. Try again."},
      {[] { throw std::filesystem::filesystem_error("gone", std::error_code()); },
       L"Something went wrong. Try again."},
  };
  for (const Case& c : cases) {
    LaunchAttempts& attempts =
        Attempts([&](auto&&, auto&&, const ProgressCallback& progress, bool, auto&&) -> Ready {
          progress({L"Looking for updates\u2026", 0.25});
          EXPECT_EQ(State().status, L"Looking for updates\u2026");
          EXPECT_EQ(State().fraction, 0.25);
          c.fail();
          return {};
        });
    attempts.RunHere();
    const SplashSnapshot state = State();
    EXPECT_TRUE(state.failed);
    EXPECT_EQ(state.status, c.shown);
    EXPECT_FALSE(state.fraction);
    EXPECT_FALSE(attempts.Started());
    EXPECT_TRUE(attempts.LauncherUpdateAllowed());
  }
}

TEST_F(LaunchWorkerTest, PrepareGetsTheRunsValues) {
  Attempts([&](const std::wstring& feedUrl, const ClientStore& store, auto&&,
               bool launcherUpdateAllowed, const std::filesystem::path& temporary) -> Ready {
    EXPECT_EQ(feedUrl, feedUrl_);
    EXPECT_EQ(store.root, store_.root);
    EXPECT_TRUE(launcherUpdateAllowed);
    EXPECT_EQ(temporary, folder_.path() / "temp");
    throw Failure{L"stop here"};
  }).RunHere();
  EXPECT_EQ(State().status, L"stop here");
}

TEST_F(LaunchWorkerTest, TheGameStartsWithItsArgumentsInItsFolder) {
  const auto game = PlaceProgram(std::filesystem::path("Client") / "1.4.0" / "Quellorn.exe");
  arguments_ = L" -windowed \"save 2\"";
  LaunchAttempts& attempts = Attempts([&](auto&&...) { return Ready{game, false}; });
  attempts.RunHere();
  EXPECT_TRUE(attempts.Started());
  EXPECT_EQ(State().status, L"Starting Quellorn\u2026");
  EXPECT_FALSE(State().failed);
  EXPECT_EQ(
      support::WaitForFile(game.parent_path() / "record.txt"),
      "-windowed\nsave 2\ncwd=" + std::filesystem::canonical(game.parent_path()).string() + "\n");
}

TEST_F(LaunchWorkerTest, TheInstallerRunsSilently) {
  const auto installer =
      PlaceProgram(std::filesystem::path("temp") / "Quellorn-Launcher-2.3.0.exe");
  LaunchAttempts& attempts = Attempts([&](auto&&...) { return Ready{installer, true}; });
  attempts.RunHere();
  EXPECT_TRUE(attempts.Started());
  EXPECT_EQ(State().status, L"Installing the new launcher\u2026");
  EXPECT_EQ(support::WaitForFile(installer.parent_path() / "record.txt"),
            "/VERYSILENT\n/SUPPRESSMSGBOXES\n/NORESTART\n/update=1\ncwd=" +
                std::filesystem::canonical(installer.parent_path()).string() + "\n");
}

TEST_F(LaunchWorkerTest, AGameThatWontStartSendsThePlayerToTheWebsite) {
  LaunchAttempts& attempts = Attempts([&](auto&&...) {
    return Ready{folder_.path() / "missing.exe", false};
  });
  attempts.RunHere();
  EXPECT_FALSE(attempts.Started());
  EXPECT_TRUE(State().failed);
  EXPECT_EQ(State().status, L"Quellorn couldn't be started. Try again, or reinstall it from " +
                                WebsiteHost() + L".");
  EXPECT_TRUE(attempts.LauncherUpdateAllowed());
}

TEST_F(LaunchWorkerTest, AnInstallerThatWontStartTurnsLauncherUpdatesOffForTheNextAttempts) {
  std::vector<bool> allowed;
  LaunchAttempts& attempts =
      Attempts([&](auto&&, auto&&, auto&&, bool launcherUpdateAllowed, auto&&) {
        allowed.push_back(launcherUpdateAllowed);
        return Ready{folder_.path() / "Quellorn-Launcher-2.3.0.exe", true};  // not there
      });
  attempts.Start();
  attempts.Finish();
  EXPECT_EQ(State().status,
            L"The new launcher couldn't be installed. Try again to play with this one.");
  EXPECT_TRUE(State().failed);
  EXPECT_FALSE(attempts.LauncherUpdateAllowed());
  for (int retry = 0; retry < 2; ++retry) {  // "Try again", twice
    attempts.Start();
    attempts.Finish();
  }
  EXPECT_EQ(allowed, (std::vector<bool>{true, false, false}));
  EXPECT_FALSE(attempts.Started());
}

TEST_F(LaunchWorkerTest, ClicksWhileAnAttemptRunsAreIgnoredAndNothingStartsTwice) {
  std::atomic<int> attemptsMade = 0;
  std::atomic<bool> release = false;
  const auto game = PlaceProgram(std::filesystem::path("Client") / "1.4.0" / "Quellorn.exe");
  LaunchAttempts& attempts = Attempts([&](auto&&...) -> Ready {
    ++attemptsMade;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Ready{game, false};
  });
  attempts.Start();
  for (int click = 0; click < 5; ++click) attempts.Start();  // none may block or start another
  release = true;
  attempts.Finish();
  EXPECT_TRUE(attempts.Started());
  attempts.Start();  // the game runs already
  attempts.RunHere();
  attempts.Finish();
  EXPECT_EQ(attemptsMade, 1);
}

TEST(Splash, ProgressLeavesTheErrorStateAndAnErrorDropsTheFraction) {
  Splash splash;
  SetProgress(splash, {L"Downloading Quellorn\u2026 1 of 4 MB", 0.25});
  SetError(splash, L"The download failed.");
  SplashSnapshot state = TakeSnapshot(splash);
  EXPECT_TRUE(state.failed);
  EXPECT_FALSE(state.fraction);
  EXPECT_EQ(state.status, L"The download failed.");
  SetProgress(splash, {L"Looking for updates\u2026", std::nullopt});
  state = TakeSnapshot(splash);
  EXPECT_FALSE(state.failed);
  EXPECT_EQ(state.status, L"Looking for updates\u2026");
  // Every change counts, so a presenter can tell a new error from one it has shown.
  EXPECT_EQ(state.revision, 3u);
}

}  // namespace
}  // namespace launcher
