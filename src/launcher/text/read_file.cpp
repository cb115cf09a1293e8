#include "launcher/text/read_file.h"

#include <fstream>

namespace launcher {

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes;
  char block[4096];
  // istream::read, unlike a stream buffer iterator, turns a read error into badbit instead of
  // throwing.
  while (in.read(block, sizeof block) || in.gcount() > 0) bytes.append(block, in.gcount());
  return in.bad() ? std::string() : bytes;
}

}  // namespace launcher
