// Any bytes either parse into an object or end in the reader's one Failure; nothing else.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "launcher/feed/json.h"
#include "launcher/text/failure.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    launcher::JsonObject object = launcher::ParseObject(text);
    // Whatever was read must be found again by its key.
    for (const auto& [key, value] : object) {
      if (object[key] != value) std::abort();
    }
  } catch (const launcher::Failure& failure) {
    if (failure.message != L"The update server answered with something that isn't a release.") {
      std::abort();
    }
  }
  return 0;
}
