#include "tools/publish/server/feed_history.h"

#include <fstream>
#include <sstream>

#include "launcher/feed/server_layout.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/read_file.h"
#include "launcher/text/text.h"
#include "launcher/trust/feed_trust.h"

namespace launcher::publish {

namespace {

// A line: the time, the feed, its release, the rollout's release or "-", the installer or "-".
constexpr wchar_t kNone[] = L"-";

std::wstring OrNone(const std::wstring& name) {
  return name.empty() ? std::wstring(kNone) : name;
}

}  // namespace

void RecordFeed(const std::filesystem::path& server, const std::wstring& feedName, const Feed& feed,
                std::chrono::system_clock::time_point now) {
  const std::wstring line =
      Format(L"{}\t{}\t{}\t{}\t{}\n", FormatUtcTime(std::chrono::floor<std::chrono::seconds>(now)),
             feedName, OrNone(feed.release.version),
             OrNone(feed.rollout ? feed.rollout->release.version : L""),
             OrNone(feed.launcher ? feed.launcher->file : L""));
  const auto file = server / PathFromWide(layout::kFeedHistoryName);
  std::ofstream out(file, std::ios::binary | std::ios::app);
  out << Narrow(line);
  out.flush();
  if (!out) throw Failure{Format(L"{} couldn't be written", WideFromPath(file))};
}

RecentlyNamed NamedSince(const std::filesystem::path& server,
                         std::chrono::system_clock::time_point since) {
  RecentlyNamed named;
  std::istringstream lines(ReadWholeFile(server / PathFromWide(layout::kFeedHistoryName)));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string time;
    std::string feed;
    std::string release;
    std::string rollout;
    std::string installer;
    if (!std::getline(fields, time, '\t') || !std::getline(fields, feed, '\t') ||
        !std::getline(fields, release, '\t') || !std::getline(fields, rollout, '\t') ||
        !std::getline(fields, installer)) {
      continue;
    }
    const auto written = ParseUtcTime(Widen(time));
    // A time that can't be read keeps what its line names: pruning errs on the players' side.
    if (written && *written < since) continue;
    for (const std::string* version : {&release, &rollout}) {
      if (Widen(*version) != kNone) named.versions.insert(Widen(*version));
    }
    if (Widen(installer) != kNone) named.installers.insert(Widen(installer));
  }
  return named;
}

}  // namespace launcher::publish
