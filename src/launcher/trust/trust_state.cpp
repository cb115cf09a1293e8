#include "launcher/trust/trust_state.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <vector>

#include "launcher/text/numbers.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

constexpr std::string_view kHeader = "quellorn trust 1\n";

std::optional<std::uint64_t> NumberOf(std::string_view text) {
  return ReadUnsigned(text, std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
}

// The words of a line, separated by single spaces.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  while (!line.empty()) {
    const std::size_t end = std::min(line.find(' '), line.size());
    words.push_back(line.substr(0, end));
    line.remove_prefix(std::min(end + 1, line.size()));
  }
  return words;
}

bool ReadLine(std::string_view line, TrustState& state) {
  const std::vector<std::string_view> words = Words(line);
  if (words.size() == 2 && (words[0] == "root" || words[0] == "timestamp")) {
    const std::optional<std::uint64_t> number = NumberOf(words[1]);
    if (!number) return false;
    (words[0] == "root" ? state.root : state.timestamp) = *number;
    return true;
  }
  if (words.size() == 2 && words[0] == "checked") {
    state.checked = Widen(words[1]);
    return true;
  }
  if (words.size() == 4 && words[0] == "channel") {
    const std::optional<std::uint64_t> root = NumberOf(words[2]);
    const std::optional<std::uint64_t> sequence = NumberOf(words[3]);
    if (!root || !sequence) return false;
    state.channels[Widen(words[1])] = {*root, *sequence};
    return true;
  }
  return false;
}

}  // namespace

std::string FormatTrustState(const TrustState& state) {
  std::string text(kHeader);
  text += "root " + std::to_string(state.root) + "\n";
  text += "timestamp " + std::to_string(state.timestamp) + "\n";
  if (!state.checked.empty()) text += "checked " + Narrow(state.checked) + "\n";
  for (const auto& [name, sequence] : state.channels) {
    text += "channel " + Narrow(name) + " " + std::to_string(sequence.root) + " " +
            std::to_string(sequence.sequence) + "\n";
  }
  return text;
}

std::optional<TrustState> ParseTrustState(std::string_view text) {
  if (!text.starts_with(kHeader) || !text.ends_with('\n')) return std::nullopt;
  text.remove_prefix(kHeader.size());
  TrustState state;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (!ReadLine(text.substr(0, end), state)) return std::nullopt;
    text.remove_prefix(end + 1);
  }
  return state;
}

TrustState Merged(const TrustState& a, const TrustState& b) {
  TrustState merged = a;
  merged.root = std::max(a.root, b.root);
  merged.timestamp = std::max(a.timestamp, b.timestamp);
  // UTC text in one fixed form sorts as the times do.
  merged.checked = std::max(a.checked, b.checked);
  for (const auto& [name, sequence] : b.channels) {
    TrustState::Sequence& kept = merged.channels[name];
    if (std::tie(sequence.root, sequence.sequence) > std::tie(kept.root, kept.sequence)) {
      kept = sequence;
    }
  }
  return merged;
}

}  // namespace launcher
