#include "support/archive_maker_for_tests.h"

namespace launcher::support {

const wchar_t* const kTestArchiveEnding = L".tar.zst";

publish::ArchiveMaker ArchiveMakerForTests() {
  return publish::MakeArchive;
}

}  // namespace launcher::support
