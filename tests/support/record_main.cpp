// A program for StartProcess's tests: writes its arguments, one per line, and then its working
// folder into "record.txt" in that working folder, so a test can see how it was started.

#include <filesystem>
#include <fstream>

int main(int argc, char** argv) {
  {
    std::ofstream out("record.txt.tmp", std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << '\n';
    out << "cwd=" << std::filesystem::current_path().string() << '\n';
  }
  // Appears whole: the test polls for the file.
  std::filesystem::rename("record.txt.tmp", "record.txt");
  return 0;
}
