#pragma once
// Waiting for a file that another process writes: the programs the launcher starts run on their
// own, so the tests poll for what they leave behind (for up to ten seconds).

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/temporary_folder.h"

namespace launcher::support {

// Under Wine a file just renamed into place can be there and not yet open to others: it counts
// once it can be opened.
inline std::string WaitForFile(const std::filesystem::path& file) {
  for (int i = 0; i < 200 && !std::ifstream(file, std::ios::binary); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ReadFile(file);
}

}  // namespace launcher::support
