#include "launcher/transfer/http.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/numbers.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/transfer_settings.h"

namespace launcher {

namespace {

// The shared bandwidth limit: every block moves the time the next may arrive on by its share of
// a second, and whoever is ahead of that time waits. A reader that wakes late (a busy machine)
// may make up for it by one block's time, not more: so all bodies together never get ahead of
// the limit by more than the blocks they are handling and one more, and the rate still comes
// near the limit when wake-ups are late.
void KeepToBandwidth(std::uint64_t count) {
  const std::uint64_t limit = Transfers().bandwidthLimit;
  if (limit == 0) return;
  using Clock = std::chrono::steady_clock;
  static std::mutex lock;
  static Clock::time_point nextFree;
  Clock::time_point until;
  {
    const std::lock_guard guard(lock);
    const auto share = [limit](std::uint64_t bytes) {
      return std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(limit)));
    };
    const Clock::time_point earliest = Clock::now() - share(kReadBufferSize);
    if (nextFree < earliest) nextFree = earliest;
    nextFree += share(count);
    until = nextFree;
  }
  std::this_thread::sleep_until(until);
}

}  // namespace

TransferSettings& Transfers() {
  static TransferSettings settings;
  return settings;
}

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<Clock::rep> g_deadline{Clock::time_point::max().time_since_epoch().count()};

}  // namespace

void SetUpdateDeadline(std::uint64_t bytes) {
  const TransferSettings& settings = Transfers();
  Clock::time_point deadline = Clock::time_point::max();
  if (bytes > 0) {
    // A billion seconds is never, as good as, and can't overflow the clock.
    const double seconds =
        std::min(1e9, static_cast<double>(bytes) /
                          static_cast<double>(std::max<std::uint64_t>(settings.slowestRate, 1)));
    deadline = Clock::now() + settings.slowWindow +
               std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }
  g_deadline = deadline.time_since_epoch().count();
}

bool PastUpdateDeadline() {
  return Clock::now().time_since_epoch().count() > g_deadline.load();
}

std::string RangeOf(const Request& request) {
  if (request.length > 0) {
    return "bytes=" + std::to_string(request.from) + "-" +
           std::to_string(request.from + request.length - 1);
  }
  return request.from > 0 ? "bytes=" + std::to_string(request.from) + "-" : std::string();
}

std::uint64_t AcceptResponse(std::uint32_t status, std::uint64_t from,
                             const std::wstring* contentRange,
                             std::optional<std::chrono::seconds> retryAfter, bool ranged) {
  ranged = ranged || from > 0;
  if (status == 200) return 0;  // the whole resource, even when a range was asked for
  if (status == 206 && ranged) {
    if (contentRange == nullptr || !contentRange->starts_with(Format(L"bytes {}-", from))) {
      throw Failure{L"The server answered with another part of the file"};
    }
    return from;
  }
  if (status == 416 && ranged) throw RangeRefused{};
  // Busy or broken for a moment: worth asking again.
  if (status == 429 || (status >= 500 && status < 600)) {
    throw TransientFailure{{Format(L"The server answered {}", status)}, retryAfter};
  }
  throw Failure{Format(L"The server answered {}", status)};
}

std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location) {
  if (location.find(L"://") != std::wstring::npos) return location;
  const std::size_t schemeEnd = base.find(L"://");
  if (schemeEnd == std::wstring::npos) return location;
  if (location.starts_with(L"//")) return base.substr(0, schemeEnd + 1) + location;
  const std::size_t pathStart = std::min(base.find(L'/', schemeEnd + 3), base.size());
  if (location.starts_with(L"/")) return base.substr(0, pathStart) + location;
  // Relative to the folder of the base's path, its query left out.
  const std::wstring path = base.substr(0, std::min(base.find(L'?', pathStart), base.size()));
  const std::size_t folderEnd = path.rfind(L'/');
  return (folderEnd == std::wstring::npos || folderEnd < pathStart
              ? path + L"/"
              : path.substr(0, folderEnd + 1)) +
         location;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::wstring_view value) {
  while (!value.empty() && (value.back() == L' ' || value.back() == L'\t')) value.remove_suffix(1);
  if (value.empty() || value.find_first_not_of(L" \t0123456789") != std::wstring_view::npos) {
    return std::nullopt;  // an HTTP date, say: the usual waits then
  }
  const auto seconds = ReadUnsigned(value, 0xFFFFFFFFu, Minus::Refused);
  if (!seconds) return std::nullopt;
  return std::chrono::seconds(*seconds);
}

std::wstring WithSystemText(const std::wstring& prefix, std::wstring systemText) {
  while (!systemText.empty() &&
         (systemText.back() == L'\n' || systemText.back() == L'\r' || systemText.back() == L'.')) {
    systemText.pop_back();
  }
  return Format(L"{}: {}", prefix, systemText);
}

void ThrowTransient(const std::wstring& prefix, std::wstring systemText) {
  throw TransientFailure{{WithSystemText(prefix, std::move(systemText))}, std::nullopt};
}

void ThrowStalled(const std::wstring& systemText) {
  const TransferSettings& settings = Transfers();
  std::wstring text =
      Format(L"less than {} bytes a second arrived for {} seconds", settings.slowestRate,
             std::chrono::duration_cast<std::chrono::seconds>(settings.slowWindow).count());
  if (!systemText.empty()) text += L" (" + systemText + L")";
  throw Stalled{{{WithSystemText(L"The download was cut off", text)}, std::nullopt}};
}

void ThrowPastDeadline() {
  throw PastDeadline{{L"The update is too slow",
                      Format(L"it took longer than its size allows at {} bytes a second",
                             Transfers().slowestRate)}};
}

void ThrowAnswerTooLate() {
  const auto within = std::chrono::duration_cast<std::chrono::seconds>(Transfers().textWithin);
  ThrowTransient(L"Couldn't reach the server",
                 Format(L"its answer took longer than {} seconds", within.count()));
}

BodyPace::BodyPace(const Request& request)
    : whole_(request.whole), started_(Clock::now()), windowStart_(started_) {}

void BodyPace::Arrived(std::uint64_t count) {
  const TransferSettings& settings = Transfers();
  const Clock::time_point now = Clock::now();
  if (whole_ && now - started_ > settings.textWithin) ThrowAnswerTooLate();
  if (!whole_ && PastUpdateDeadline()) ThrowPastDeadline();
  windowBytes_ += count;
  // A small document has its deadline instead: a rate says nothing of a body of a few bytes.
  if (!whole_ && now - windowStart_ >= settings.slowWindow) {
    const double seconds = std::chrono::duration<double>(now - windowStart_).count();
    if (static_cast<double>(windowBytes_) < static_cast<double>(settings.slowestRate) * seconds) {
      ThrowStalled();
    }
    windowStart_ = now;
    windowBytes_ = 0;
  }
  KeepToBandwidth(count);
}

}  // namespace launcher
