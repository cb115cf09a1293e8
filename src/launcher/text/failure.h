#pragma once
// The failure a player must read: thrown anywhere in the launcher, shown word for word by the
// window or written to the check file. Deliberately not derived from std::exception, so that a
// catch of std::exception never swallows a message meant for the player.

#include <string>

namespace launcher {

struct Failure {
  std::wstring message;
  // What support needs besides, for the launcher's log: the numbers and the system's own text
  // behind a message written for the player. Empty when the message says it all.
  std::wstring detail = {};
};

// The failure's message and, when there is more, its detail: what the log keeps.
inline std::wstring Described(const Failure& failure) {
  return failure.detail.empty() ? failure.message : failure.message + L" (" + failure.detail + L")";
}

// What the player reads for any other exception: no message was written for it.
inline constexpr wchar_t kSomethingWentWrong[] = L"Something went wrong. Try again.";

}  // namespace launcher
