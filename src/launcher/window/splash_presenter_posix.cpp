// POSIX implementation of the splash presenter: the status line and a text progress bar on
// standard error. A terminal sees one line redrawn in place; a log or pipe gets a line whenever
// the step changes, and at most one a second besides, so that it stays readable.

#include "launcher/window/splash_presenter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

// Stands where the window would be: the writers wake the presenter's thread, which draws.
class TerminalPresenter {
 public:
  void Wake() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      woken_ = true;
    }
    changed_.notify_one();
  }

  void Close() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      closed_ = true;
    }
    changed_.notify_one();
  }

  // Waits for a change; true once closed.
  bool WaitForChange() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return woken_ || closed_; });
    woken_ = false;
    return closed_;
  }

  // Lets changes gather for a moment, so a fast download doesn't flood the terminal.
  bool WaitForCloseFor(Clock::duration time) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, time, [this] { return closed_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool woken_ = false;
  bool closed_ = false;
};

TerminalPresenter g_presenter;

TerminalPresenter* PresenterOf(const Splash& splash) {
  return static_cast<TerminalPresenter*>(splash.window);
}

std::size_t TerminalWidth() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

std::string ProgressBar(double fraction) {
  constexpr int kCells = 20;
  const double share = fraction >= 1.0 ? 1.0 : (fraction > 0.0 ? fraction : 0.0);
  const int full = static_cast<int>(share * kCells);
  std::string bar = "[";
  bar.append(static_cast<std::size_t>(full), '#');
  bar.append(static_cast<std::size_t>(kCells - full), '-');
  bar += "] ";
  bar += Narrow(Format(L"{:.0f}%", share * 100.0));
  return bar;
}

class StatusWriter {
 public:
  explicit StatusWriter(bool inPlace) : inPlace_(inPlace) {}

  void Show(const SplashSnapshot& state) {
    std::wstring text = state.status;
    std::string bar = state.fraction ? "  " + ProgressBar(*state.fraction) : std::string();
    if (inPlace_) {
      // A line longer than the terminal would wrap, and "\r" could no longer redraw it.
      const std::size_t room = TerminalWidth() - 1;
      if (bar.size() >= room) bar.clear();
      if (text.size() + bar.size() > room) text.resize(room - bar.size());
      std::fprintf(stderr, "\r\x1b[K%s%s", Narrow(text).c_str(), bar.c_str());
      lineOpen_ = true;
    } else {
      const std::wstring step = text.substr(0, text.find(L'\u2026'));
      const Clock::time_point now = Clock::now();
      if (step == lastStep_ && now - lastLine_ < std::chrono::seconds(1)) return;
      lastStep_ = step;
      lastLine_ = now;
      std::fprintf(stderr, "%s%s\n", Narrow(text).c_str(), bar.c_str());
    }
    std::fflush(stderr);
  }

  void ShowFailure(const std::wstring& message) {
    EndLine();
    std::fprintf(stderr, "%s\n", Narrow(message).c_str());
    lastStep_.clear();
    std::fflush(stderr);
  }

  void EndLine() {
    if (lineOpen_) std::fputc('\n', stderr);
    lineOpen_ = false;
    std::fflush(stderr);
  }

 private:
  bool inPlace_;
  bool lineOpen_ = false;
  std::wstring lastStep_;
  Clock::time_point lastLine_;
};

}  // namespace

bool CreateSplash(Splash& splash) {
  splash.window = &g_presenter;
  g_presenter.Wake();  // draws the first state
  return true;
}

void RunSplash(Splash& splash) {
  TerminalPresenter* presenter = PresenterOf(splash);
  if (presenter == nullptr) return;
  const bool canAsk = isatty(STDIN_FILENO) == 1;
  const bool inPlace = isatty(STDERR_FILENO) == 1;
  StatusWriter writer(inPlace);
  std::uint64_t shown = 0;
  // A failure's own wake-up may arrive after its state was already handled; the revision tells.
  std::optional<std::uint64_t> handledFailure;
  while (!presenter->WaitForChange()) {
    const SplashSnapshot state = TakeSnapshot(splash);
    if (!state.failed) {
      writer.Show(state);
      shown = state.revision;
      if (inPlace && presenter->WaitForCloseFor(std::chrono::milliseconds(50))) break;
      continue;
    }
    if (state.revision == handledFailure) continue;
    handledFailure = state.revision;
    writer.ShowFailure(state.status);
    // Nobody to answer: the run ends as if the window had been closed.
    if (!canAsk) return;
    std::fputs("Try again? [Enter] ", stderr);
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::fputc('\n', stderr);
      return;
    }
    if (splash.retry) splash.retry();
  }
  // The last words before the close ("Starting Quellorn…") may not have been drawn yet.
  const SplashSnapshot last = TakeSnapshot(splash);
  if (!last.failed && last.revision != shown) writer.Show(last);
  writer.EndLine();
}

void RefreshSplash(const Splash& splash) {
  if (TerminalPresenter* presenter = PresenterOf(splash)) presenter->Wake();
}

void CloseSplash(const Splash& splash) {
  if (TerminalPresenter* presenter = PresenterOf(splash)) presenter->Close();
}

void ReportWithoutSplash(const std::wstring& message) {
  std::fprintf(stderr, "%s\n", Narrow(message).c_str());
}

}  // namespace launcher
