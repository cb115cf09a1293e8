#pragma once
// The failure a player must read: thrown anywhere in the launcher, shown word for word by the
// window or written to the check file. Deliberately not derived from std::exception, so that a
// catch of std::exception never swallows a message meant for the player.

#include <string>

namespace launcher {

struct Failure {
  std::wstring message;
};

}  // namespace launcher
