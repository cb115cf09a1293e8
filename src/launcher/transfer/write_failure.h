#pragma once
// What the player reads when bytes can't be written to the disk: a full disk says how much more
// room is needed, wherever it happens (a download, a kept file's copy, the check before an
// install); any other failure keeps the caller's own message.

#include <cstdint>
#include <string>
#include <system_error>

#include "launcher/text/failure.h"

namespace launcher {

// "There isn't enough free space on the disk: {} MB more are needed.", the megabytes rounded up.
Failure NotEnoughSpace(std::uint64_t missingBytes);

// NotEnoughSpace(stillToWrite) for a full disk, else Failure{otherwise}.
[[noreturn]] void ThrowWriteFailure(const std::error_code& error, std::uint64_t stillToWrite,
                                    const std::wstring& otherwise);

}  // namespace launcher
