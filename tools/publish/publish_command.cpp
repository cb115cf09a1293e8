#include "tools/publish/publish_command.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "launcher/platform/terminal.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "tools/publish/channels.h"
#include "tools/publish/publish.h"
#include "tools/publish/signing.h"
#include "tools/publish/verify.h"

namespace launcher::publish {
namespace {

constexpr char kUsage[] =
    "usage: quellorn-publish release BUILD_FOLDER --version V --server SERVER_FOLDER\n"
    "                        [--channel NAME] [--key KEY_FILE]... [--expires DAYS]\n"
    "                        [--allow-downgrade] [--max-update-MB N] [--allow-name]\n"
    "                        [--strict]\n"
    "       quellorn-publish plan BUILD_FOLDER --server SERVER_FOLDER\n"
    "       quellorn-publish promote VERSION --server SERVER_FOLDER [--channel NAME]\n"
    "                        [--key KEY_FILE]... [--expires DAYS] [--allow-downgrade]\n"
    "       quellorn-publish prune --keep N --server SERVER_FOLDER [--dry-run]\n"
    "       quellorn-publish launcher INSTALLER --version V --server SERVER_FOLDER\n"
    "                        [--channel NAME] [--key KEY_FILE]... [--expires DAYS]\n"
    "       quellorn-publish resign --server SERVER_FOLDER --key KEY_FILE... [--channel NAME]\n"
    "                        [--expires DAYS]\n"
    "       quellorn-publish verify SERVER_FOLDER_OR_FEED_URL [--public-key KEY]...\n"
    "       quellorn-publish keygen KEY_FILE\n"
    "       quellorn-publish --help\n"
    "\n"
    "Channels: the live feed is latest.json, the channel NAME's latest-NAME.json, all in one\n"
    "server folder sharing its files. Exit codes: 0 done, 1 refused or problems found, 2 a\n"
    "malformed command line.\n";

// What each command takes: how many words of its own, which options with a value (those
// marked with * may be given more than once), which of them it needs, and which options stand
// alone.
struct Form {
  const wchar_t* name;
  std::size_t subjects;
  std::vector<std::wstring> options;
  std::vector<std::wstring> required;
  std::vector<std::wstring> flags;
};

const Form kForms[] = {
    {L"release",
     1,
     {L"--version", L"--server", L"--channel", L"--key*", L"--expires", L"--max-update-MB"},
     {L"--version", L"--server"},
     {L"--allow-downgrade", L"--allow-name", L"--strict"}},
    {L"plan", 1, {L"--server"}, {L"--server"}, {}},
    {L"promote",
     1,
     {L"--server", L"--channel", L"--key*", L"--expires"},
     {L"--server"},
     {L"--allow-downgrade"}},
    {L"prune", 0, {L"--server", L"--keep"}, {L"--server", L"--keep"}, {L"--dry-run"}},
    {L"launcher",
     1,
     {L"--version", L"--server", L"--channel", L"--key*", L"--expires"},
     {L"--version", L"--server"},
     {}},
    {L"resign",
     0,
     {L"--server", L"--channel", L"--key*", L"--expires"},
     {L"--server", L"--key"},
     {}},
    {L"verify", 1, {L"--public-key*"}, {}, {}},
    {L"keygen", 1, {}, {}, {}},
};

struct Arguments {
  std::wstring command;
  std::vector<std::wstring> subjects;
  std::map<std::wstring, std::vector<std::wstring>> options;
  std::vector<std::wstring> flags;

  bool Has(const std::wstring& flag) const {
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
  }

  const std::wstring& Subject() const { return subjects.front(); }
  std::wstring Option(const std::wstring& name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::wstring() : found->second.back();
  }
  std::vector<std::wstring> All(const std::wstring& name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::vector<std::wstring>() : found->second;
  }
};

// Empty command when the words don't make one of the forms.
Arguments Parse(const std::vector<std::wstring>& words) {
  if (words.size() < 2) return {};
  const Form* form = nullptr;
  for (const Form& candidate : kForms) {
    if (words[1] == candidate.name) form = &candidate;
  }
  if (form == nullptr) return {};
  Arguments arguments;
  arguments.command = words[1];
  for (std::size_t i = 2; i < words.size(); ++i) {
    const std::wstring& word = words[i];
    if (!word.starts_with(L"--")) {
      arguments.subjects.push_back(word);
      continue;
    }
    if (std::find(form->flags.begin(), form->flags.end(), word) != form->flags.end()) {
      arguments.flags.push_back(word);
      continue;
    }
    const auto option = std::find_if(
        form->options.begin(), form->options.end(),
        [&](const std::wstring& known) { return known == word || known == word + L"*"; });
    if (option == form->options.end() || i + 1 >= words.size()) return {};
    auto& values = arguments.options[word];
    if (!values.empty() && !option->ends_with(L"*")) return {};
    values.push_back(words[++i]);
  }
  if (arguments.subjects.size() != form->subjects) return {};
  for (const std::wstring& needed : form->required) {
    if (arguments.Option(needed).empty()) return {};
  }
  return arguments;
}

void Print(std::FILE* stream, const std::wstring& line) {
  std::fputs((Narrow(line) + "\n").c_str(), stream);
}

// A progress line redrawn in place, only for a person watching.
PublishProgress TerminalProgress() {
  if (!IsTerminal(stderr)) return {};
  return [](const std::wstring& line) {
    std::fputs(("\r\x1b[K" + Narrow(line)).c_str(), stderr);
    std::fflush(stderr);
  };
}

void EndProgress(const PublishProgress& progress) {
  if (progress) std::fputs("\r\x1b[K", stderr);
}

Signing SigningOf(const Arguments& arguments) {
  Signing signing;
  for (const std::wstring& file : arguments.All(L"--key")) {
    signing.keys.push_back(ReadPrivateKey(PathFromWide(file)));
  }
  const std::wstring days = arguments.Option(L"--expires");
  if (!days.empty()) {
    const auto number = ReadUnsigned(std::wstring_view(days), 36500, Minus::Refused);
    if (!number || *number == 0) {
      throw Failure{Format(L"--expires takes a number of days from 1 to 36500, not \"{}\"", days)};
    }
    signing.validDays = static_cast<int>(*number);
  }
  return signing;
}

// One line for each release whose players the new one reaches, as the launcher will fetch it.
void PrintPlans(const std::vector<UpdatePlan>& plans) {
  for (const UpdatePlan& plan : plans) {
    std::wstring line =
        Format(L"  from {}: {} bytes ({:.1f} MB), ", plan.from, plan.bytes, plan.bytes / 1048576.0);
    line += plan.byArchive ? Format(L"the archive of {} files", plan.files)
                           : Format(L"{} files one by one", plan.files);
    for (std::size_t i = 0; i < plan.costliest.size(); ++i) {
      line += Format(L"{}{} {:.1f} MB", i == 0 ? L"; most: " : L", ",
                     Widen(plan.costliest[i].first), plan.costliest[i].second / 1048576.0);
    }
    Print(stdout, line);
  }
}

int RunRelease(const Arguments& arguments) {
  const PublishProgress progress = TerminalProgress();
  ReleaseOptions options{SigningOf(arguments), arguments.Has(L"--allow-downgrade"),
                         arguments.Option(L"--channel")};
  options.allowName = arguments.Has(L"--allow-name");
  options.strict = arguments.Has(L"--strict");
  const std::wstring limit = arguments.Option(L"--max-update-MB");
  if (!limit.empty()) {
    const auto megabytes = ReadUnsigned(std::wstring_view(limit), 1ULL << 40, Minus::Refused);
    if (!megabytes || *megabytes == 0) {
      throw Failure{
          Format(L"--max-update-MB takes a whole number of MB from 1, not \"{}\"", limit)};
    }
    options.maxUpdateBytes = *megabytes * 1048576;
  }
  ReleaseSummary summary;
  try {
    summary =
        PublishRelease(PathFromWide(arguments.Subject()), arguments.Option(L"--version"),
                       PathFromWide(arguments.Option(L"--server")), MakeArchive, progress, options);
  } catch (...) {
    EndProgress(progress);
    throw;
  }
  EndProgress(progress);
  for (const std::wstring& warning : summary.warnings) Print(stderr, L"warning: " + warning);
  Print(stdout, Format(L"Published Quellorn {}: {} files, {:.1f} MB",
                       arguments.Option(L"--version"), summary.files, summary.bytes / 1048576.0));
  const bool compressed = summary.feed.release.file.ends_with(L".gz");
  Print(stdout,
        Format(L"  {} ({} bytes, {}), {}", summary.feed.release.file, summary.feed.release.size,
               compressed ? L"gzip-compressed" : L"a plain tar: gzip would save under 5 %",
               summary.feed.files));
  Print(stdout, Format(L"  blobs: {} new, {} already there; {:.1f} MB written",
                       summary.blobsWritten, summary.blobsKept, summary.bytesWritten / 1048576.0));
  if (!summary.plans.empty()) Print(stdout, L"What a player downloads to reach it:");
  PrintPlans(summary.plans);
  return 0;
}

int RunPlan(const Arguments& arguments) {
  const PublishProgress progress = TerminalProgress();
  std::vector<UpdatePlan> plans;
  try {
    plans = PlanRelease(PathFromWide(arguments.Subject()),
                        PathFromWide(arguments.Option(L"--server")), MakeArchive, progress);
  } catch (...) {
    EndProgress(progress);
    throw;
  }
  EndProgress(progress);
  Print(stdout, plans.empty() ? std::wstring(L"No release is published there yet")
                              : std::wstring(L"What a player downloads to reach this build:"));
  PrintPlans(plans);
  return 0;
}

int RunLauncher(const Arguments& arguments) {
  const Release launcher =
      PublishLauncher(PathFromWide(arguments.Subject()), arguments.Option(L"--version"),
                      PathFromWide(arguments.Option(L"--server")), SigningOf(arguments),
                      arguments.Option(L"--channel"));
  Print(stdout, Format(L"Published launcher {}: {} ({} bytes)", launcher.version, launcher.file,
                       launcher.size));
  return 0;
}

int RunResign(const Arguments& arguments) {
  const Feed feed = Resign(PathFromWide(arguments.Option(L"--server")), SigningOf(arguments),
                           arguments.Option(L"--channel"));
  Print(stdout, Format(L"Signed the feed of Quellorn {} again: sequence {}, valid until {}",
                       feed.release.version, feed.sequence.value_or(0), feed.expires));
  return 0;
}

int RunPromote(const Arguments& arguments) {
  const std::wstring channel = arguments.Option(L"--channel");
  const Feed feed = Promote(PathFromWide(arguments.Option(L"--server")), arguments.Subject(),
                            channel, SigningOf(arguments), arguments.Has(L"--allow-downgrade"));
  Print(stdout, Format(L"{} now names Quellorn {}: {} ({} bytes), {}", FeedNameOf(channel),
                       feed.release.version, feed.release.file, feed.release.size, feed.files));
  return 0;
}

int RunPrune(const Arguments& arguments) {
  const std::wstring keep = arguments.Option(L"--keep");
  const auto count = ReadUnsigned(std::wstring_view(keep), 1000000, Minus::Refused);
  if (!count || *count == 0) {
    throw Failure{Format(L"--keep takes a number of releases from 1, not \"{}\"", keep)};
  }
  const bool dryRun = arguments.Has(L"--dry-run");
  const PruneOutcome outcome =
      Prune(PathFromWide(arguments.Option(L"--server")), static_cast<std::size_t>(*count), dryRun);
  for (const std::wstring& name : outcome.removed) {
    Print(stdout, (dryRun ? L"would remove " : L"removed ") + name);
  }
  std::wstring kept;
  for (const std::wstring& version : outcome.kept) kept += (kept.empty() ? L"" : L", ") + version;
  Print(stdout,
        Format(L"{} {} files, {:.1f} MB; releases kept: {}", dryRun ? L"Would remove" : L"Removed",
               outcome.removed.size(), outcome.bytes / 1048576.0, kept.empty() ? L"none" : kept));
  return 0;
}

int RunKeygen(const Arguments& arguments) {
  const PrivateKey key = GenerateKey();
  WriteOwnerOnlyFile(PathFromWide(arguments.Subject()), PemOf(key));
  // The form QUELLORN_FEED_KEYS takes: cmake -DQUELLORN_FEED_KEYS=<this line>
  Print(stdout, Widen(HexOf(key.publicKey.point.data(), key.publicKey.point.size())));
  return 0;
}

int RunVerify(const Arguments& arguments) {
  std::vector<PublicKey> keys;
  for (const std::wstring& text : arguments.All(L"--public-key")) {
    const auto key = ParsePublicKey(Narrow(text));
    if (!key) throw Failure{Format(L"\"{}\" isn't a public key: 128 hexadecimal digits", text)};
    keys.push_back(*key);
  }
  const Verdict verdict = Verify(arguments.Subject(), keys);
  for (const auto& problem : verdict.problems) Print(stdout, problem);
  if (!verdict.problems.empty()) {
    Print(stdout,
          Format(L"{} problems; {} files are whole", verdict.problems.size(), verdict.checked));
    return 1;
  }
  Print(stdout,
        Format(L"All is well: release {}, {} files whole", verdict.version, verdict.checked));
  return 0;
}

}  // namespace

int RunPublish(const std::vector<std::wstring>& words) {
  if (words.size() == 2 && (words[1] == L"--help" || words[1] == L"help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const Arguments arguments = Parse(words);
  if (arguments.command.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    if (arguments.command == L"release") return RunRelease(arguments);
    if (arguments.command == L"launcher") return RunLauncher(arguments);
    if (arguments.command == L"promote") return RunPromote(arguments);
    if (arguments.command == L"prune") return RunPrune(arguments);
    if (arguments.command == L"plan") return RunPlan(arguments);
    if (arguments.command == L"resign") return RunResign(arguments);
    if (arguments.command == L"keygen") return RunKeygen(arguments);
    return RunVerify(arguments);
  } catch (const Failure& failure) {
    Print(stderr, L"quellorn-publish: " + failure.message);
  } catch (const std::exception& failure) {
    Print(stderr, L"quellorn-publish: " + Widen(failure.what()));
  }
  return 1;
}

}  // namespace launcher::publish
