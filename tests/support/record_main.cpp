// A program for StartProcess's tests: writes its arguments, one per line, and then its working
// folder into "record.txt" in that working folder, so a test can see how it was started. For the
// tests of programs on pipes, "--echo" copies its input to its output instead, and
// "--repeat TEXT N" writes TEXT N times to its output.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::vector<std::string> words(argv + 1, argv + argc);
  if (words.size() == 1 && words[0] == "--echo") {
    std::vector<char> block(65536);
    while (const std::size_t count = std::fread(block.data(), 1, block.size(), stdin)) {
      if (std::fwrite(block.data(), 1, count, stdout) != count) return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (words.size() == 3 && words[0] == "--repeat") {
    for (long i = std::stol(words[2]); i > 0; --i) {
      if (std::fputs(words[1].c_str(), stdout) < 0) return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  {
    std::ofstream out("record.txt.tmp", std::ios::binary);
    for (const std::string& word : words) out << word << '\n';
    out << "cwd=" << std::filesystem::current_path().string() << '\n';
  }
  // Appears whole: the test polls for the file.
  std::filesystem::rename("record.txt.tmp", "record.txt");
  return 0;
}
