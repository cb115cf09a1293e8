#include "tools/publish/commands/progress_lines.h"

#include <cstdio>

#include "launcher/platform/terminal.h"
#include "launcher/text/format.h"
#include "launcher/text/text.h"

namespace launcher::publish {

namespace {

constexpr std::chrono::seconds kAtMost{1};
constexpr std::chrono::seconds kStillEvery{5};

void Print(const std::wstring& line) {
  std::fputs((Narrow(line) + "\n").c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace

ProgressLines::ProgressLines() : terminal_(IsTerminal(stderr)) {
  if (!terminal_) ticker_ = std::thread([this] { Tick(); });
}

ProgressLines::~ProgressLines() {
  Pause();
  if (terminal_) return;
  {
    const std::lock_guard guard(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  ticker_.join();
}

void ProgressLines::Pause() {
  if (terminal_) {
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    return;
  }
  const std::lock_guard guard(lock_);
  if (latest_ == printed_) return;
  printed_ = latest_;
  Print(latest_);
}

PublishProgress ProgressLines::Callback() {
  return [this](const std::wstring& line) { Show(line); };
}

void ProgressLines::Show(const std::wstring& line) {
  if (terminal_) {
    std::fputs(("\r\x1b[K" + Narrow(line)).c_str(), stderr);
    std::fflush(stderr);
    return;
  }
  const std::lock_guard guard(lock_);
  if (line != latest_) since_ = std::chrono::steady_clock::now();
  latest_ = line;
}

void ProgressLines::Tick() {
  std::unique_lock lock(lock_);
  auto printedAt = std::chrono::steady_clock::now();
  while (!changed_.wait_for(lock, kAtMost, [&] { return stopping_; })) {
    const auto now = std::chrono::steady_clock::now();
    if (latest_ != printed_) {
      printed_ = latest_;
      printedAt = now;
      Print(latest_);
    } else if (!latest_.empty() && now - printedAt >= kStillEvery) {
      printedAt = now;
      Print(Format(L"{} ({} s)", latest_,
                   std::chrono::duration_cast<std::chrono::seconds>(now - since_).count()));
    }
  }
}

}  // namespace launcher::publish
