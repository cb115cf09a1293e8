#pragma once
// The archive maker the publishing tests use: the real one where the system has a tar that
// writes (Linux), and a plain ustar writer under Wine, whose tar.exe is the tests' extractor.

#include "tools/publish/server/archive_maker.h"

namespace launcher::support {

publish::ArchiveMaker ArchiveMakerForTests();

// The name ending the tests' small text builds get: gzip shrinks them, so the real maker
// compresses; the tests' writer under Wine makes plain tars.
extern const wchar_t* const kTestArchiveEnding;

}  // namespace launcher::support
