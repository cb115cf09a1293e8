#pragma once
// Launcher version numbers: dotted pieces read as unsigned numbers and compared piece by piece.
// Game client versions are never ordered, only compared for equality.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/text/product.h"  // kOwnVersion

namespace launcher {

// One number per "."-separated piece, never empty; a piece without digits, or beyond 32 bits,
// counts as 0.
std::vector<std::uint32_t> ParseVersion(const std::wstring& version);

// True when a is strictly newer than b; missing trailing pieces count as 0.
bool IsNewerVersion(const std::wstring& a, const std::wstring& b);

}  // namespace launcher
