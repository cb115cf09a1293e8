#pragma once
// What a launcher built with a root has accepted, so that nothing older is ever believed again:
// the root's version, the newest timestamp's, each channel's highest feed sequence (with the root
// version it was accepted under: a new root may start the sequences again), and when the updates
// were last checked. Kept as text in more than one file of the store; copies are merged by the
// highest of each value, so that deleting or rolling back one file loses nothing. Pure logic.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

struct TrustState {
  struct Sequence {
    std::uint64_t root = 0;  // the root version it was accepted under
    std::uint64_t sequence = 0;
    bool operator==(const Sequence&) const = default;
  };
  std::uint64_t root = 0;
  std::uint64_t timestamp = 0;
  std::map<std::wstring, Sequence> channels;  // by the feed's file name
  std::wstring checked;  // when a timestamp was last accepted, as UTC text; empty: never

  bool operator==(const TrustState&) const = default;
};

// "quellorn trust 1", then "root N", "timestamp N", "checked TIME" and one "channel NAME ROOT
// SEQUENCE" line per channel; each line ends in a line feed. ParseTrustState reads it back;
// nothing for any other text.
std::string FormatTrustState(const TrustState& state);
std::optional<TrustState> ParseTrustState(std::string_view text);

// The highest of each value of the two.
TrustState Merged(const TrustState& a, const TrustState& b);

}  // namespace launcher
