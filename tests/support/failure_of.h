#pragma once
// The message of the Failure an action throws, or empty text when it throws none.

#include <functional>
#include <string>

#include "launcher/text/failure.h"

namespace launcher::support {

inline std::wstring FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Failure& failure) {
    return failure.message;
  }
  return {};
}

}  // namespace launcher::support
