#include "support/archive_maker_for_tests.h"

namespace launcher::support {

publish::ArchiveMaker ArchiveMakerForTests() {
  return publish::MakeArchive;
}

}  // namespace launcher::support
