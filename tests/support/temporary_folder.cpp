#include "support/temporary_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace launcher::support {

TemporaryFolder::TemporaryFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate =
        base / ("quellorn-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TemporaryFolder::Write(const std::filesystem::path& relative,
                                             const std::string& bytes) const {
  const auto file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("can't write " + file.string());
  return file;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  EXPECT_TRUE(in) << "can't read " << file;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace launcher::support
