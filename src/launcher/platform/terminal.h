#pragma once
// Whether a person watches a stream: progress is redrawn in place on a terminal and written
// line by line into a log or pipe.

#include <cstdio>

namespace launcher {

bool IsTerminal(std::FILE* stream);

}  // namespace launcher
