#include "tools/publish/commands/role_commands.h"

#include <algorithm>

#include "launcher/feed/server_layout.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "launcher/trust/feed_trust.h"
#include "tools/publish/server/server_changes.h"
#include "tools/publish/signing/roles.h"

namespace launcher::publish {

const std::vector<Form> kRoleForms = {
    {L"root",
     0,
     {L"--server", L"--root-key*", L"--release-key*", L"--timestamp-key*", L"--launcher-key*",
      L"--root-threshold", L"--release-threshold", L"--timestamp-threshold",
      L"--launcher-threshold", L"--key*", L"--expires"},
     {L"--server", L"--root-key", L"--release-key", L"--timestamp-key", L"--launcher-key"},
     {}},
    {L"rotate",
     0,
     {L"--server", L"--role", L"--add*", L"--remove*", L"--threshold", L"--key*", L"--expires"},
     {L"--server", L"--role", L"--key"},
     {L"--restart-sequences"}},
    {L"sign", 1, {L"--key*"}, {L"--key"}, {}},
    {L"timestamp", 0, {L"--server", L"--key*", L"--hours"}, {L"--server", L"--key"}, {}},
};

const char kRoleUsage[] =
    "       quellorn-publish root --server SERVER_FOLDER --root-key PUBLIC_KEY...\n"
    "                        --release-key PUBLIC_KEY... --timestamp-key PUBLIC_KEY...\n"
    "                        --launcher-key PUBLIC_KEY... [--ROLE-threshold N]...\n"
    "                        [--expires DAYS] --key ROOT_KEY_FILE...\n"
    "       quellorn-publish rotate --server SERVER_FOLDER --role ROLE [--add PUBLIC_KEY]...\n"
    "                        [--remove PUBLIC_KEY]... [--threshold N] [--restart-sequences]\n"
    "                        [--expires DAYS] --key ROOT_KEY_FILE...\n"
    "       quellorn-publish sign DOCUMENT --key KEY_FILE...\n"
    "       quellorn-publish timestamp --server SERVER_FOLDER --key KEY_FILE... [--hours N]\n";

namespace {

// Roles and the threshold each takes when none is given: the root 2 (of 3 kept offline), the
// installer 2, the others 1.
constexpr std::pair<const wchar_t*, std::uint32_t> kRoles[] = {
    {L"root", 2}, {L"release", 1}, {L"timestamp", 1}, {L"launcher", 2}};

Role& RoleOf(Root& root, const std::wstring& name) {
  if (name == L"root") return root.root;
  if (name == L"release") return root.release;
  if (name == L"timestamp") return root.timestamp;
  if (name == L"launcher") return root.launcher;
  throw Failure{Format(L"\"{}\" isn't a role: root, release, timestamp or launcher", name)};
}

std::vector<PublicKey> PublicKeys(const std::vector<std::wstring>& texts) {
  std::vector<PublicKey> keys;
  for (const std::wstring& text : texts) {
    const std::optional<PublicKey> key = ParsePublicKey(Narrow(text));
    if (!key) throw Failure{Format(L"\"{}\" isn't a public key: 128 hexadecimal digits", text)};
    keys.push_back(*key);
  }
  return keys;
}

std::uint32_t Threshold(const std::wstring& text, std::uint32_t otherwise) {
  if (text.empty()) return otherwise;
  const auto number = ReadUnsigned(std::wstring_view(text), 1000, Minus::Refused);
  if (!number || *number == 0) {
    throw Failure{Format(L"a threshold is a number of signatures from 1, not \"{}\"", text)};
  }
  return static_cast<std::uint32_t>(*number);
}

std::wstring ExpiryOf(const Arguments& arguments, const Signing& signing) {
  const int days = arguments.Option(L"--expires").empty() ? kDefaultRootDays : signing.validDays;
  return FormatUtcTime(std::chrono::floor<std::chrono::seconds>(signing.now()) +
                       std::chrono::days(days));
}

void Published(const Root& root, const std::filesystem::path& server, Outcome& out) {
  const std::wstring file = WideFromPath(server / PathFromWide(layout::RootName(root.version)));
  out.document.Number("root", root.version).Text("file", file).Text("expires", root.expires);
  out.Line(Format(L"Root {} is {}, valid until {}", root.version, file, root.expires));
}

int RunRoot(const Arguments& arguments, Outcome& out) {
  const std::filesystem::path server = PathFromWide(arguments.Option(L"--server"));
  const Signing signing = SigningOf(arguments);
  Root root;
  for (const auto& [name, threshold] : kRoles) {
    Role& role = RoleOf(root, name);
    role.keys = PublicKeys(arguments.All(Format(L"--{}-key", name)));
    role.threshold = Threshold(arguments.Option(Format(L"--{}-threshold", name)), threshold);
    if (role.threshold > role.keys.size()) {
      throw Failure{
          Format(L"the {} role takes {} signatures: give as many --{}-key, or "
                 L"--{}-threshold",
                 name, role.threshold, name, name)};
    }
  }
  root.expires = ExpiryOf(arguments, signing);
  PublishRoot(server, root, signing.keys);
  Published(*NewestRoot(server), server, out);
  out.Line(L"Build the launcher with -DQUELLORN_ROOT=" +
           WideFromPath(server / PathFromWide(layout::RootName(1))));
  return 0;
}

int RunRotate(const Arguments& arguments, Outcome& out) {
  const std::filesystem::path server = PathFromWide(arguments.Option(L"--server"));
  const Signing signing = SigningOf(arguments);
  std::optional<Root> next = NewestRoot(server);
  if (!next) throw Failure{L"the folder has no root yet: make one with quellorn-publish root"};
  Role& role = RoleOf(*next, arguments.Option(L"--role"));
  for (const PublicKey& key : PublicKeys(arguments.All(L"--remove"))) {
    std::erase(role.keys, key);
  }
  for (const PublicKey& key : PublicKeys(arguments.All(L"--add"))) role.keys.push_back(key);
  role.threshold = Threshold(arguments.Option(L"--threshold"), role.threshold);
  next->restartSequences = arguments.Has(L"--restart-sequences");
  next->expires = ExpiryOf(arguments, signing);
  PublishRoot(server, *next, signing.keys);
  Published(*NewestRoot(server), server, out);
  return 0;
}

}  // namespace

int RunRoleCommand(const Arguments& arguments, Outcome& out) {
  if (arguments.command == L"root") return RunRoot(arguments, out);
  if (arguments.command == L"rotate") return RunRotate(arguments, out);
  const Signing signing = SigningOf(arguments);
  if (arguments.command == L"sign") {
    AddSignatures(PathFromWide(arguments.Subject()), signing.keys);
    out.Line(Format(L"Signed {} with {} keys", arguments.Subject(), signing.keys.size()));
    return 0;
  }
  const std::wstring hours = arguments.Option(L"--hours");
  const auto count = hours.empty() ? std::optional<std::uint64_t>(kDefaultTimestampHours)
                                   : ReadUnsigned(std::wstring_view(hours), 8760, Minus::Refused);
  if (!count || *count == 0) {
    throw Failure{Format(L"--hours takes a number of hours from 1 to 8760, not \"{}\"", hours)};
  }
  const std::filesystem::path server = PathFromWide(arguments.Option(L"--server"));
  if (!NewestRoot(server)) throw Failure{L"the folder has no root: it takes no timestamp"};
  ServerChanges changes;
  PublishTimestamp(changes, server, signing, static_cast<int>(*count));
  changes.Commit();
  out.Line(Format(L"Signed the timestamp anew, valid for {} hours", *count));
  return 0;
}

}  // namespace launcher::publish
