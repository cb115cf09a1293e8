#pragma once
// A fresh folder for one test, removed with everything in it when the test ends.

#include <filesystem>
#include <string>

namespace launcher::support {

class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `bytes` to `relative` inside the folder, creating the folders on the way.
  std::filesystem::path Write(const std::filesystem::path& relative,
                              const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// All bytes of a file; fails the current test if it can't be read.
std::string ReadFile(const std::filesystem::path& file);

}  // namespace launcher::support
