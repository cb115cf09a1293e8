// Win32 implementation of IsLink: symbolic links, junctions and every other reparse point.

#include "launcher/platform/links.h"

#include "launcher/platform/windows.h"

namespace launcher {

bool IsLink(const std::filesystem::path& entry) {
  const DWORD attributes = GetFileAttributesW(entry.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace launcher
