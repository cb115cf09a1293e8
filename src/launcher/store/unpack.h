#pragma once
// Unpacking a release archive with the system's own tar, which recognises the archive's format by
// itself: from the archive's file, or from its bytes as they arrive.

#include <filesystem>

#include "launcher/platform/run_program.h"

namespace launcher {

// Extracts `archive` into the existing `folder`. Throws Failure "The release couldn't be
// unpacked" when tar fails, and "The release couldn't be unpacked: Windows' tar is missing" (on
// Linux: "...: the system's tar is missing") when it can't be started.
// Blocks until tar ends.
void Unpack(const std::filesystem::path& archive, const std::filesystem::path& folder);

// tar, started to extract what it is fed into the existing `folder`. `gzip` says the bytes are
// gzip-compressed: Linux's tar must be told so for a stream; Windows' tar finds out itself.
FedProgram StartUnpacking(const std::filesystem::path& folder, bool gzip);

}  // namespace launcher
