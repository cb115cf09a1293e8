// A small stand-in for Windows' tar.exe, for the Windows build's tests under Wine, which has no
// tar of its own: "tar.exe -xf ARCHIVE -C FOLDER" for plain ustar archives of files and folders,
// ARCHIVE "-" for standard input.
// Exits 0 on success and 2 for anything else, as tar does: a damaged archive, a link, or a name
// that is absolute or climbs with "..". QUELLORN_TEST_TAR_PAUSE (seconds) makes it take its time
// once it has read the archive (all of a stream), for a test that looks at the launcher while it
// unpacks.

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

unsigned long long ReadOctal(const char* field, size_t width) {
  unsigned long long value = 0;
  for (size_t i = 0; i < width && field[i] >= '0' && field[i] <= '7'; ++i)
    value = value * 8 + (field[i] - '0');
  return value;
}

bool IsSafeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || name.find(':') != std::string::npos)
    return false;
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return false;
    start = end + 1;
  }
  return true;
}

int Extract(const std::filesystem::path& archivePath, const std::filesystem::path& folder) {
  std::string archive;
  if (archivePath == L"-") {  // standard input, read whole before anything is written
    _setmode(_fileno(stdin), _O_BINARY);
    char block[65536];
    while (const std::size_t got = std::fread(block, 1, sizeof block, stdin))
      archive.append(block, got);
  } else {
    std::ifstream in(archivePath, std::ios::binary);
    if (!in) return 2;
    archive.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (const wchar_t* pause = _wgetenv(L"QUELLORN_TEST_TAR_PAUSE")) {
    std::this_thread::sleep_for(std::chrono::seconds(std::wcstol(pause, nullptr, 10)));
  }
  size_t at = 0;
  while (at + 512 <= archive.size()) {
    const char* header = archive.data() + at;
    if (header[0] == '\0') return 0;  // the end blocks
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i)
      sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
    if (sum != ReadOctal(header + 148, 8)) return 2;
    const std::string name(header, std::find(header, header + 100, '\0') - header);
    const unsigned long long size = ReadOctal(header + 124, 12);
    const char type = header[156];
    at += 512;
    if (!IsSafeName(name) || at + size > archive.size()) return 2;
    const std::filesystem::path target = folder / std::filesystem::u8path(name);
    std::error_code error;
    if (type == '5') {
      std::filesystem::create_directories(target, error);
    } else if (type == '0' || type == '\0') {
      std::filesystem::create_directories(target.parent_path(), error);
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      out.write(archive.data() + at, static_cast<std::streamsize>(size));
      if (!out.flush()) return 2;
    } else {
      return 2;
    }
    if (error) return 2;
    at += (size + 511) / 512 * 512;
  }
  return 2;  // no end blocks: cut short
}

}  // namespace

// Wide arguments: the paths of the store may hold any character.
int wmain(int argc, wchar_t** argv) {
  if (argc != 5 || std::wstring(argv[1]) != L"-xf" || std::wstring(argv[3]) != L"-C") {
    std::fprintf(stderr, "usage: tar -xf ARCHIVE -C FOLDER\n");
    return 2;
  }
  return Extract(argv[2], argv[4]);
}
