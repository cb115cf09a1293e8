#include "support/tar_writer.h"

#include <cstdio>
#include <cstring>

namespace launcher::support {

namespace {

void Octal(char* field, size_t width, unsigned long long value) {
  std::snprintf(field, width, "%0*llo", static_cast<int>(width - 1), value);
}

// Files, and the long names and pax headers that come before one.
bool HasContent(const TarEntry& entry) {
  return entry.type == '0' || entry.type == 'L' || entry.type == 'x';
}

std::string Header(const TarEntry& entry) {
  char block[512] = {};
  std::strncpy(block, entry.name.c_str(), 100);
  Octal(block + 100, 8, entry.type == '5' ? 0755 : 0644);
  Octal(block + 108, 8, 0);
  Octal(block + 116, 8, 0);
  Octal(block + 124, 12, HasContent(entry) ? entry.content.size() : 0);
  Octal(block + 136, 12, 1700000000);
  block[156] = entry.type;
  std::strncpy(block + 157, entry.linkTarget.c_str(), 100);
  std::memcpy(block + 257, "ustar", 6);
  std::memcpy(block + 263, "00", 2);
  std::memset(block + 148, ' ', 8);  // the checksum counts its own field as spaces
  unsigned sum = 0;
  for (const char byte : block) sum += static_cast<unsigned char>(byte);
  std::snprintf(block + 148, 8, "%06o", sum);
  block[155] = ' ';
  return std::string(block, sizeof block);
}

}  // namespace

std::string MakeTar(const std::vector<TarEntry>& entries) {
  std::string archive;
  for (const TarEntry& entry : entries) {
    archive += Header(entry);
    if (HasContent(entry)) {
      archive += entry.content;
      archive.append((512 - entry.content.size() % 512) % 512, '\0');
    }
  }
  archive.append(1024, '\0');
  return archive;
}

}  // namespace launcher::support
