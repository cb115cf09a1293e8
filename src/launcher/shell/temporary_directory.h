#pragma once
// The user's temporary folder, where launcher installers are downloaded, with its trailing
// separator as the system gives it.

#include <string>

namespace launcher {

// Windows: GetTempPathW, read whole however long it is. Linux: $TMPDIR, else /tmp, ending in "/".
std::wstring TemporaryDirectory();

}  // namespace launcher
