#pragma once
// Checking a published server folder, or a live feed URL, the way the launcher will read it:
// the feed, the archive, the installer and the file list with every blob it names, each present
// with the promised size and SHA-256. Over HTTP(S) it uses the launcher's own transfer code.

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/trust/signature.h"

namespace launcher::publish {

struct Verdict {
  std::vector<std::wstring> problems;  // one line each; none means all is well
  std::wstring version;                // the release the feed names
  std::uint64_t checked = 0;           // files found whole
};

// `target` is a server folder, or a feed URL beginning with "http://" or "https://". With
// `keys`, the feed must also be one a launcher built with them believes: signed by one of them,
// for Quellorn, not expired and with a sequence number.
Verdict Verify(const std::wstring& target, const std::vector<PublicKey>& keys = {});

}  // namespace launcher::publish
