#include "tools/publish/commands/publish_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "launcher/feed/json_document.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/text/text.h"
#include "tools/publish/commands/arguments.h"
#include "tools/publish/commands/progress_lines.h"
#include "tools/publish/commands/remote_commands.h"
#include "tools/publish/commands/role_commands.h"
#include "tools/publish/reports/verify.h"
#include "tools/publish/server/channels.h"
#include "tools/publish/server/publish.h"
#include "tools/publish/server/remote.h"
#include "tools/publish/server/zstd_pack.h"
#include "tools/publish/signing/signing.h"

namespace launcher::publish {
namespace {

constexpr char kUsage[] =
    "usage: quellorn-publish release BUILD_FOLDER --version V --server SERVER_FOLDER\n"
    "                        [--channel NAME] [--key KEY_FILE]... [--expires DAYS]\n"
    "                        [--allow-downgrade] [--max-update-MB N] [--allow-name]\n"
    "                        [--strict] [--level 1-19] [--patch-releases N] [--to REMOTE]\n"
    "       quellorn-publish plan BUILD_FOLDER --server SERVER_FOLDER [--patch-releases N]\n"
    "       quellorn-publish promote VERSION --server SERVER_FOLDER [--channel NAME]\n"
    "                        [--key KEY_FILE]... [--expires DAYS] [--allow-downgrade]\n"
    "                        [--to REMOTE]\n"
    "       quellorn-publish prune --keep N --server SERVER_FOLDER [--grace HOURS] [--dry-run]\n"
    "                        [--to REMOTE]\n"
    "       quellorn-publish launcher INSTALLER --version V --server SERVER_FOLDER\n"
    "                        [--channel NAME] [--key KEY_FILE]... [--expires DAYS]\n"
    "                        [--to REMOTE]\n"
    "       quellorn-publish resign --server SERVER_FOLDER --key KEY_FILE... [--channel NAME]\n"
    "                        [--expires DAYS] [--to REMOTE]\n"
    "       quellorn-publish verify SERVER_FOLDER_OR_FEED_URL [--public-key KEY]...\n"
    "       quellorn-publish keygen KEY_FILE\n"
    "%s"
    "%s"
    "       quellorn-publish --help\n"
    "Every command takes --json: one JSON document on standard output with what it did or found\n"
    "(and \"error\" when it failed). Progress goes to standard error, at most once a second when\n"
    "that isn't a terminal.\n"
    "\n"
    "Channels: the live feed is latest.json, the channel NAME's latest-NAME.json, all in one\n"
    "server folder sharing its files. --to REMOTE uploads the folder after the change to whatever\n"
    "rclone takes (\"name:path\", or \":webdav,url='https://host/',vendor=other:path\"): content\n"
    "first, the signed documents last. Exit codes: 0 done, 1 refused or problems found, 2 a\n"
    "malformed command line.\n";

const std::vector<Form> kForms = {
    {L"release",
     1,
     {L"--version", L"--server", L"--channel", L"--key*", L"--expires", L"--max-update-MB",
      L"--level", L"--patch-releases", L"--to"},
     {L"--version", L"--server"},
     {L"--allow-downgrade", L"--allow-name", L"--strict"}},
    {L"plan", 1, {L"--server", L"--patch-releases"}, {L"--server"}, {}},
    {L"promote",
     1,
     {L"--server", L"--channel", L"--key*", L"--expires", L"--to"},
     {L"--server"},
     {L"--allow-downgrade"}},
    {L"prune",
     0,
     {L"--server", L"--keep", L"--grace", L"--to"},
     {L"--server", L"--keep"},
     {L"--dry-run"}},
    {L"launcher",
     1,
     {L"--version", L"--server", L"--channel", L"--key*", L"--expires", L"--to"},
     {L"--version", L"--server"},
     {}},
    {L"resign",
     0,
     {L"--server", L"--channel", L"--key*", L"--expires", L"--to"},
     {L"--server", L"--key"},
     {}},
    {L"verify", 1, {L"--public-key*"}, {}, {}},
    {L"keygen", 1, {}, {}, {}},
};

std::string PlanJson(const UpdateReport& plan) {
  std::vector<std::string> costliest;
  for (const auto& [path, bytes] : plan.costliest) {
    costliest.push_back(JsonDocument().Text("path", Widen(path)).Number("bytes", bytes).Close());
  }
  return JsonDocument()
      .Text("from", plan.from)
      .Bool("sameBuild", plan.sameBuild)
      .Bool("byArchive", plan.byArchive)
      .Number("files", plan.files)
      .Number("bytes", plan.bytes)
      .Raw("costliest", JsonDocument::Array(costliest))
      .Close();
}

// One line for each release whose players the new one reaches, as the launcher will fetch it.
void ReportPlans(const std::vector<UpdateReport>& plans, Outcome& out) {
  std::vector<std::string> jsons;
  for (const UpdateReport& plan : plans) jsons.push_back(PlanJson(plan));
  out.document.Raw("plans", JsonDocument::Array(jsons));
  for (const UpdateReport& plan : plans) {
    const std::wstring who =
        plan.from.empty() ? std::wstring(L"a new player") : L"from " + plan.from;
    if (plan.sameBuild) {
      out.Line(Format(L"  {}: nothing but the feed, it holds this very build", who));
      continue;
    }
    std::wstring line =
        Format(L"  {}: {} bytes ({:.1f} MiB), ", who, plan.bytes, plan.bytes / 1048576.0);
    line += plan.byArchive ? Format(L"the archive of {} files", plan.files)
                           : Format(L"{} files one by one", plan.files);
    for (std::size_t i = 0; i < plan.costliest.size(); ++i) {
      line += Format(L"{}{} {:.1f} MiB", i == 0 ? L"; most: " : L", ",
                     Widen(plan.costliest[i].first), plan.costliest[i].second / 1048576.0);
    }
    out.Line(line);
  }
}

// --patch-releases: how many earlier releases each changed file gets a patch from.
std::size_t PatchedReleasesOf(const Arguments& arguments) {
  const std::wstring count = arguments.Option(L"--patch-releases");
  if (count.empty()) return kDefaultPatchedReleases;
  const auto number = ReadUnsigned(std::wstring_view(count), 100, Minus::Refused);
  if (!number) {
    throw Failure{
        Format(L"--patch-releases takes a number of releases from 0 to 100, not \"{}\"", count)};
  }
  return static_cast<std::size_t>(*number);
}

// What release's options ask for; --level sets the run's packing level.
ReleaseOptions ReleaseOptionsOf(const Arguments& arguments) {
  ReleaseOptions options{SigningOf(arguments), arguments.Has(L"--allow-downgrade"),
                         arguments.Option(L"--channel")};
  options.allowName = arguments.Has(L"--allow-name");
  options.strict = arguments.Has(L"--strict");
  options.patchedReleases = PatchedReleasesOf(arguments);
  const std::wstring limit = arguments.Option(L"--max-update-MB");
  if (!limit.empty()) {
    const auto megabytes = ReadUnsigned(std::wstring_view(limit), 1ULL << 40, Minus::Refused);
    if (!megabytes || *megabytes == 0) {
      throw Failure{
          Format(L"--max-update-MB takes a whole number of MB (1,000,000 bytes) from 1, not "
                 L"\"{}\"",
                 limit)};
    }
    options.maxUpdateBytes = *megabytes * 1000000;
  }
  const std::wstring level = arguments.Option(L"--level");
  if (!level.empty()) {
    const auto number = ReadUnsigned(std::wstring_view(level), 19, Minus::Refused);
    if (!number || *number == 0) {
      throw Failure{Format(L"--level takes zstd's level, from 1 to 19, not \"{}\"", level)};
    }
    PackingLevel() = static_cast<int>(*number);
  }
  return options;
}

int RunRelease(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const ReleaseOptions options = ReleaseOptionsOf(arguments);
  const ReleaseSummary summary = PublishRelease(
      PathFromWide(arguments.Subject()), arguments.Option(L"--version"),
      PathFromWide(arguments.Option(L"--server")), MakeArchive, lines.Callback(), options);
  lines.Pause();
  for (const std::wstring& warning : summary.warnings) Print(stderr, L"warning: " + warning);
  out.document.Text("version", summary.feed.release.version)
      .Text("archive", summary.feed.release.file)
      .Number("archiveBytes", summary.feed.release.size)
      .Text("fileList", summary.feed.files)
      .Number("files", summary.files)
      .Number("bytes", summary.bytes)
      .Number("blobsWritten", summary.blobsWritten)
      .Number("blobsKept", summary.blobsKept)
      .Number("bytesWritten", summary.bytesWritten)
      .Number("packedBlobs", summary.packed)
      .Number("patches", summary.patches)
      .Texts("warnings", summary.warnings);
  out.Line(Format(L"Published Quellorn {}: {} files, {:.1f} MiB", arguments.Option(L"--version"),
                  summary.files, summary.bytes / 1048576.0));
  const bool compressed = summary.feed.release.file.ends_with(L".zst");
  const bool older = summary.feed.release.file.ends_with(L".gz");
  out.Line(Format(L"  {} ({} bytes, {}), {}", summary.feed.release.file, summary.feed.release.size,
                  compressed ? L"zstd-compressed"
                  : older    ? L"gzip-compressed, as published before"
                             : L"a plain tar: zstd would save under 5 %",
                  summary.feed.files));
  out.Line(Format(L"  blobs: {} new, {} already there; {} packed, {} patches from earlier releases",
                  summary.blobsWritten, summary.blobsKept, summary.packed, summary.patches));
  out.Line(Format(L"  the server folder grew by {:.1f} MiB", summary.bytesWritten / 1048576.0));
  out.Line(L"What a player downloads to reach it:");
  ReportPlans(summary.plans, out);
  UploadIfAsked(arguments, out, lines.Callback());
  return 0;
}

int RunPlan(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const PlanSummary summary =
      PlanRelease(PathFromWide(arguments.Subject()), PathFromWide(arguments.Option(L"--server")),
                  MakeArchive, lines.Callback(), PatchedReleasesOf(arguments));
  lines.Pause();
  out.document.Number("serverGrowth", summary.serverGrowth);
  out.Line(L"What a player downloads to reach this build:");
  ReportPlans(summary.plans, out);
  out.Line(Format(L"Publishing it would add {:.1f} MiB to the server folder",
                  summary.serverGrowth / 1048576.0));
  return 0;
}

int RunLauncher(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const Release launcher =
      PublishLauncher(PathFromWide(arguments.Subject()), arguments.Option(L"--version"),
                      PathFromWide(arguments.Option(L"--server")), SigningOf(arguments),
                      arguments.Option(L"--channel"));
  out.document.Text("version", launcher.version)
      .Text("file", launcher.file)
      .Number("bytes", launcher.size);
  out.Line(Format(L"Published launcher {}: {} ({} bytes)", launcher.version, launcher.file,
                  launcher.size));
  UploadIfAsked(arguments, out, lines.Callback());
  return 0;
}

int RunResign(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const Feed feed = Resign(PathFromWide(arguments.Option(L"--server")), SigningOf(arguments),
                           arguments.Option(L"--channel"));
  out.document.Text("version", feed.release.version)
      .Number("sequence", feed.sequence.value_or(0))
      .Text("expires", feed.expires);
  out.Line(Format(L"Signed the feed of Quellorn {} again: sequence {}, valid until {}",
                  feed.release.version, feed.sequence.value_or(0), feed.expires));
  UploadIfAsked(arguments, out, lines.Callback());
  return 0;
}

int RunPromote(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const std::wstring channel = arguments.Option(L"--channel");
  const Feed feed = Promote(PathFromWide(arguments.Option(L"--server")), arguments.Subject(),
                            channel, SigningOf(arguments), arguments.Has(L"--allow-downgrade"));
  out.document.Text("feed", FeedNameOf(channel))
      .Text("version", feed.release.version)
      .Text("archive", feed.release.file)
      .Number("archiveBytes", feed.release.size);
  out.Line(Format(L"{} now names Quellorn {}: {} ({} bytes), {}", FeedNameOf(channel),
                  feed.release.version, feed.release.file, feed.release.size, feed.files));
  UploadIfAsked(arguments, out, lines.Callback());
  return 0;
}

int RunPrune(const Arguments& arguments, Outcome& out, ProgressLines& lines) {
  const std::wstring keep = arguments.Option(L"--keep");
  const auto count = ReadUnsigned(std::wstring_view(keep), 1000000, Minus::Refused);
  if (!count || *count == 0) {
    throw Failure{Format(L"--keep takes a number of releases from 1, not \"{}\"", keep)};
  }
  std::chrono::hours grace = kDefaultGrace;
  if (const std::wstring hours = arguments.Option(L"--grace"); !hours.empty()) {
    const auto number = ReadUnsigned(std::wstring_view(hours), 24 * 3650, Minus::Refused);
    if (!number) {
      throw Failure{Format(L"--grace takes a number of hours from 0 to 87600, not \"{}\"", hours)};
    }
    grace = std::chrono::hours(*number);
  }
  const bool dryRun = arguments.Has(L"--dry-run");
  const std::filesystem::path server = PathFromWide(arguments.Option(L"--server"));
  const std::wstring remote = arguments.Option(L"--to");
  // The remote names nothing a prune removes only once its documents are the folder's own.
  if (!remote.empty() && !dryRun) UploadIfAsked(arguments, out, lines.Callback());
  const PruneOutcome outcome = Prune(server, static_cast<std::size_t>(*count), dryRun, grace);
  if (!remote.empty() && !dryRun) RemoveFromRemote(remote, outcome.removed);
  lines.Pause();
  out.document.Bool("dryRun", dryRun)
      .Texts("removed", outcome.removed)
      .Number("bytes", outcome.bytes)
      .Texts("kept", outcome.kept)
      .Number("graceHours", static_cast<std::uint64_t>(grace.count()));
  for (const std::wstring& name : outcome.removed) {
    out.Line((dryRun ? L"would remove " : L"removed ") + name);
  }
  std::wstring kept;
  for (const std::wstring& version : outcome.kept) kept += (kept.empty() ? L"" : L", ") + version;
  out.Line(
      Format(L"{} {} files, {:.1f} MiB{}; releases kept: {} (and whatever a feed named in "
             L"the last {} hours)",
             dryRun ? L"Would remove" : L"Removed", outcome.removed.size(),
             outcome.bytes / 1048576.0, remote.empty() || dryRun ? L"" : L" here and on " + remote,
             kept.empty() ? L"none" : kept, grace.count()));
  return 0;
}

int RunKeygen(const Arguments& arguments, Outcome& out) {
  const PrivateKey key = GenerateKey();
  WriteOwnerOnlyFile(PathFromWide(arguments.Subject()), PemOf(key));
  // The form QUELLORN_FEED_KEYS takes: cmake -DQUELLORN_FEED_KEYS=<this line>
  const std::wstring hex = Widen(HexOf(key.publicKey.point.data(), key.publicKey.point.size()));
  out.document.Text("publicKey", hex);
  out.Line(hex);
  return 0;
}

int RunVerify(const Arguments& arguments, Outcome& out) {
  std::vector<PublicKey> keys;
  for (const std::wstring& text : arguments.All(L"--public-key")) {
    const auto key = ParsePublicKey(Narrow(text));
    if (!key) throw Failure{Format(L"\"{}\" isn't a public key: 128 hexadecimal digits", text)};
    keys.push_back(*key);
  }
  const Verdict verdict = Verify(arguments.Subject(), keys);
  out.document.Bool("ok", verdict.problems.empty())
      .Text("version", verdict.version)
      .Number("filesWhole", verdict.checked)
      .Texts("problems", verdict.problems);
  for (const auto& problem : verdict.problems) out.Line(problem);
  if (!verdict.problems.empty()) {
    out.Line(Format(L"{} problems; {} files are whole", verdict.problems.size(), verdict.checked));
    return 1;
  }
  out.Line(Format(L"All is well: release {}, {} files whole", verdict.version, verdict.checked));
  return 0;
}

}  // namespace

int RunPublish(const std::vector<std::wstring>& words) {
  if (words.size() == 2 && (words[1] == L"--help" || words[1] == L"help")) {
    std::fprintf(stdout, kUsage, kRoleUsage, kRemoteUsage);
    return 0;
  }
  std::vector<Form> forms = kForms;
  forms.insert(forms.end(), kRoleForms.begin(), kRoleForms.end());
  forms.insert(forms.end(), kRemoteForms.begin(), kRemoteForms.end());
  const Arguments arguments = Parse(words, forms);
  if (arguments.command.empty()) {
    if (arguments.problem.empty()) {
      std::fprintf(stderr, kUsage, kRoleUsage, kRemoteUsage);
    } else {
      Print(stderr, L"quellorn-publish: " + arguments.problem +
                        L" (quellorn-publish --help shows every command and option)");
    }
    return 2;
  }
  Outcome out;
  out.json = arguments.Has(L"--json");
  out.document.Text("command", arguments.command);
  int code = 1;
  std::wstring error;
  ProgressLines lines;
  try {
    if (arguments.command == L"release") code = RunRelease(arguments, out, lines);
    if (arguments.command == L"launcher") code = RunLauncher(arguments, out, lines);
    if (arguments.command == L"promote") code = RunPromote(arguments, out, lines);
    if (arguments.command == L"prune") code = RunPrune(arguments, out, lines);
    if (arguments.command == L"plan") code = RunPlan(arguments, out, lines);
    if (arguments.command == L"resign") code = RunResign(arguments, out, lines);
    if (arguments.command == L"keygen") code = RunKeygen(arguments, out);
    if (arguments.command == L"verify") code = RunVerify(arguments, out);
    for (const Form& form : kRoleForms) {
      if (arguments.command == form.name) code = RunRoleCommand(arguments, out);
    }
    for (const Form& form : kRemoteForms) {
      if (arguments.command == form.name) code = RunRemoteCommand(arguments, out, lines.Callback());
    }
  } catch (const Failure& failure) {
    error = failure.message;
  } catch (const std::exception& failure) {
    error = Widen(failure.what());
  }
  lines.Pause();
  if (!error.empty()) {
    Print(stderr, L"quellorn-publish: " + error);
    out.document.Text("error", error);
  }
  if (out.json) Print(stdout, Widen(out.document.Close()));
  return code;
}

}  // namespace launcher::publish
