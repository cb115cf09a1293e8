#pragma once
// Progress on standard error while a command runs. On a terminal one line redrawn in place for a
// person watching; in a log (CI) the newest line at most once a second while it changes, and
// every five seconds while it doesn't, with how long it has stood, so that a long step shows it is
// alive and a log never floods. Callable from any thread.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tools/publish/server/publish.h"

namespace launcher::publish {

class ProgressLines {
 public:
  ProgressLines();
  ~ProgressLines();  // prints a line not shown yet in a log, clears the terminal's
  ProgressLines(const ProgressLines&) = delete;
  ProgressLines& operator=(const ProgressLines&) = delete;

  // What the command's steps report to; valid while this lives.
  PublishProgress Callback();

  // Before the command prints its outcome: the terminal's line is cleared, and a log's newest
  // line printed if it wasn't.
  void Pause();

 private:
  void Show(const std::wstring& line);
  void Tick();  // the log's thread

  const bool terminal_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::wstring latest_;
  std::wstring printed_;
  std::chrono::steady_clock::time_point since_;  // when the latest line came
  bool stopping_ = false;
  std::thread ticker_;
};

}  // namespace launcher::publish
