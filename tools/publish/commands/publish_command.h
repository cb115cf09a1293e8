#pragma once
// quellorn-publish: the publisher's half of the update. Turns a game build into what the update
// server serves, adds a launcher installer to it, and checks a server folder or a live feed.

#include <string>
#include <vector>

namespace launcher::publish {

// `words` as the program received them, its name first. Returns the exit code: 0 done, 1 failed
// (the reason on standard error, or verify's findings on standard output), 2 a malformed command.
int RunPublish(const std::vector<std::wstring>& words);

}  // namespace launcher::publish
