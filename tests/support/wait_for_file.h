#pragma once
// Waiting for a file that another process writes: the programs the launcher starts run on their
// own, so the tests poll for what they leave behind (for up to ten seconds).

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/temporary_folder.h"

namespace launcher::support {

inline std::string WaitForFile(const std::filesystem::path& file) {
  for (int i = 0; i < 200 && !std::filesystem::exists(file); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadFile(file);
}

}  // namespace launcher::support
