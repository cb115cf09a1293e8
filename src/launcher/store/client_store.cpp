#include "launcher/store/client_store.h"

#include <algorithm>
#include <array>
#include <limits>
#include <random>
#include <system_error>

#include "launcher/feed/feed.h"
#include "launcher/platform/durable_replace.h"
#include "launcher/platform/locked_files.h"
#include "launcher/text/failure.h"
#include "launcher/text/hex.h"
#include "launcher/text/numbers.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"

namespace launcher {

namespace {

bool IsSpace(char byte) {
  return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// The endings of the store's own files and working names.
constexpr const wchar_t* kReservedEndings[] = {L".partial", L".download", L".parts", L".record",
                                               L".txt",     L".tmp",      L".log"};
constexpr wchar_t kSequenceFile[] = L"feed-sequence.txt";
constexpr wchar_t kTrustFile[] = L"trust.txt";
constexpr wchar_t kRootsFolder[] = L"roots";
constexpr wchar_t kIdentityFile[] = L"identity.txt";

// What the store keeps besides the current version: its marker, what the trust in feeds has
// accepted, the installation's identity, the log for support, and the lock file (Linux) that a
// running launcher holds.
constexpr const wchar_t* kStoreFiles[] = {L"current.txt", kSequenceFile,   kTrustFile, kRootsFolder,
                                          kIdentityFile,  L"launcher.log", L".lock"};

// The working names of a version being installed.
constexpr const wchar_t* kWorkingEndings[] = {L".partial", L".download", L".parts"};

}  // namespace

bool IsStorableVersion(const std::wstring& version) {
  const std::wstring name = Lowercase(version);
  return name != kRootsFolder &&
         std::none_of(std::begin(kReservedEndings), std::end(kReservedEndings),
                      [&](const wchar_t* ending) { return name.ends_with(ending); });
}

std::wstring ClientStore::Current() const {
  std::string bytes = ReadWholeFile(root / "current.txt");
  while (!bytes.empty() && IsSpace(bytes.back())) bytes.pop_back();
  std::wstring version = Widen(bytes);
  if (!IsPlainName(version)) return {};
  std::error_code error;
  const auto status = std::filesystem::status(Executable(version), error);
  if (error || status.type() == std::filesystem::file_type::not_found) return {};
  return version;
}

std::filesystem::path ClientStore::Executable(const std::wstring& version) const {
  return root / PathFromWide(version) / "Quellorn.exe";
}

void ClientStore::Prune() const {
  // Without a current version there is nothing to keep by: removing everything would lose the game.
  const std::wstring keep = Lowercase(Current());
  if (keep.empty()) return;
  std::error_code error;
  std::filesystem::directory_iterator entry(root, error);
  if (error) return;
  // Files held for a moment by another program are waited for, ten seconds in all; what is
  // still held then stays for the next run.
  const Deadline deadline = std::chrono::steady_clock::now() + kLockedFilesWait;
  for (; entry != std::filesystem::directory_iterator(); ++entry) {
    const std::wstring name = Lowercase(WideFromPath(entry->path().filename()));
    if (name == keep || name == keep + L".record" ||
        std::find(std::begin(kStoreFiles), std::end(kStoreFiles), name) != std::end(kStoreFiles)) {
      continue;
    }
    RemoveTree(entry->path(), deadline);
  }
}

void ClientStore::RemoveLeftovers(const std::wstring& installing) const {
  const std::wstring version = Lowercase(installing);
  const Deadline deadline = std::chrono::steady_clock::now() + kLockedFilesWait;
  std::error_code error;
  std::filesystem::directory_iterator entry(root, error);
  if (error) return;
  for (; entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    if (error) return;
    const std::wstring name = Lowercase(WideFromPath(entry->path().filename()));
    // Working names only: version folders, current or not, are Prune's once an install is done.
    const bool working = name == L"current.txt.tmp" ||
                         std::any_of(std::begin(kWorkingEndings), std::end(kWorkingEndings),
                                     [&](const wchar_t* ending) {
                                       return name.ends_with(ending) && name != version + ending;
                                     });
    if (working) RemoveTree(entry->path(), deadline);
  }
}

std::optional<std::uint64_t> ClientStore::AcceptedSequence() const {
  return ReadUnsigned(std::string_view(ReadWholeFile(root / PathFromWide(kSequenceFile))),
                      std::numeric_limits<std::uint64_t>::max(), Minus::Refused);
}

bool ClientStore::AcceptSequence(std::uint64_t sequence) const {
  const std::optional<std::uint64_t> accepted = AcceptedSequence();
  if (accepted && *accepted >= sequence) return true;
  std::error_code error;
  std::filesystem::create_directories(root, error);
  return ReplaceFileDurably(root / PathFromWide(kSequenceFile),
                            root / PathFromWide(std::wstring(kSequenceFile) + L".tmp"),
                            std::to_string(sequence));
}

TrustState ClientStore::AcceptedTrust() const {
  TrustState state;
  for (const std::filesystem::path& copy :
       {root / PathFromWide(kTrustFile), RootsFolder() / PathFromWide(kTrustFile)}) {
    if (const std::optional<TrustState> read = ParseTrustState(ReadWholeFile(copy))) {
      state = Merged(state, *read);
    }
  }
  return state;
}

bool ClientStore::AcceptTrust(const TrustState& state) const {
  const std::string text = FormatTrustState(Merged(AcceptedTrust(), state));
  std::error_code error;
  std::filesystem::create_directories(RootsFolder(), error);
  bool written = true;
  for (const std::filesystem::path& copy :
       {root / PathFromWide(kTrustFile), RootsFolder() / PathFromWide(kTrustFile)}) {
    std::filesystem::path temporary = copy;
    temporary += ".tmp";
    written = ReplaceFileDurably(copy, temporary, text) && written;
  }
  return written;
}

std::string ClientStore::Identity() const {
  const std::filesystem::path file = root / PathFromWide(kIdentityFile);
  std::string identity = ReadWholeFile(file);
  std::array<std::uint8_t, 16> bytes{};
  if (identity.size() == 2 * bytes.size() && ParseHex(identity, bytes)) return identity;
  std::random_device random;  // the system's own source: rand_s on Windows, getrandom on Linux
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
  identity = HexOf(bytes.data(), bytes.size());
  std::error_code error;
  std::filesystem::create_directories(root, error);
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  static_cast<void>(ReplaceFileDurably(file, temporary, identity));
  return identity;
}

void ClientStore::NameCurrent(const std::wstring& version) const {
  if (!ReplaceFileDurably(root / "current.txt", root / "current.txt.tmp", Narrow(version))) {
    throw Failure{L"The new version couldn't be named current"};
  }
}

}  // namespace launcher
