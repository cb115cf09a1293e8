#pragma once
// The system's own tar, started to unpack the plain tar the launcher feeds it (decoded and looked
// at by the archive stream), without the archive's owners where the system's tar can be told so.

#include <filesystem>
#include <string>

#include "launcher/platform/run_program.h"

namespace launcher {

// tar, started to extract what it is fed into the existing `folder`.
FedProgram StartUnpacking(const std::filesystem::path& folder);

// What the player reads when tar can't be started: "The release couldn't be unpacked: the
// system's tar is missing" (Windows: "...: Windows' tar is missing").
std::wstring TarMissing();

}  // namespace launcher
