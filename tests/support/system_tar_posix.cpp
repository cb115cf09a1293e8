// Linux always has its tar on the PATH (scripts/setup checks it); nothing to provide.

#include "support/system_tar.h"

namespace launcher::support {

void ProvideSystemTar() {}

}  // namespace launcher::support
