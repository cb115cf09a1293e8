#pragma once
// One HTTP or HTTPS GET whose body reaches the caller block by block, optionally from a byte
// offset with a Range request. The launcher's only network code: WinHTTP on Windows, libcurl on
// Linux, held to the same status rules and messages. Safe to call from several threads at once;
// the callbacks run on the calling thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// Bytes handed to onChunk at most at once.
inline constexpr std::size_t kReadBufferSize = 65536;

using StartCallback = std::function<void(std::uint64_t offset)>;
using ChunkCallback = std::function<void(const std::uint8_t* bytes, std::uint64_t count)>;

// How one request is made.
struct Request {
  std::uint64_t from = 0;  // above 0: "Range: bytes={from}-"
  bool noCache = false;    // "Cache-Control: no-cache": a cache on the way must ask the origin
  // Small documents must arrive whole within Transfers().textWithin; downloads may take as long
  // as they keep above the slowest rate.
  bool whole = false;
  // Above 0: only this many bytes from `from`, "Range: bytes={from}-{from + length - 1}", even
  // from 0. A server may still send the whole resource (onStart's offset 0).
  std::uint64_t length = 0;
};

// `request.from` 0 asks for the whole body; above 0 sends "Range: bytes={from}-". Redirects are
// followed (at most 10, never from https to http), proxies are the system's. onStart runs once,
// before any body byte, with the offset the delivered bytes begin at: `from` when the server
// honoured the range, 0 when it sent the whole resource. Bodies keep to the process's bandwidth
// limit. Throws Failure with the player's message (TransientFailure for what may pass: a broken
// or slow connection, a 5xx or 429 answer), RangeRefused for a 416 to a ranged request, and
// whatever a callback throws, always after closing the request.
void HttpGet(const std::wstring& url, const Request& request, const StartCallback& onStart,
             const ChunkCallback& onChunk);

// The same with only a resume offset.
inline void HttpGet(const std::wstring& url, std::uint64_t from, const StartCallback& onStart,
                    const ChunkCallback& onChunk) {
  HttpGet(url, Request{from}, onStart, onChunk);
}

// The Range header's value for the request ("bytes=10-", "bytes=0-99"), empty for none.
std::string RangeOf(const Request& request);

// What the status of a response means for a request made from `from`: the offset for onStart,
// or a thrown Failure (TransientFailure for 5xx and 429, with `retryAfter`) or RangeRefused.
// `contentRange` is read only for a 206 (nullptr when the header couldn't be read). Shared by
// both HTTP backends.
std::uint64_t AcceptResponse(std::uint32_t status, std::uint64_t from,
                             const std::wstring* contentRange,
                             std::optional<std::chrono::seconds> retryAfter = std::nullopt,
                             bool ranged = false);

// A redirect's Location, absolute or relative to `base`, as an absolute URL.
std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location);

// A Retry-After value in seconds; nothing for a date or anything else.
std::optional<std::chrono::seconds> ParseRetryAfter(std::wstring_view value);

// TransientFailure{WithSystemText(prefix, systemText)}.
[[noreturn]] void ThrowTransient(const std::wstring& prefix, std::wstring systemText);

// The TransientFailure of a small document that took longer than Transfers().textWithin.
[[noreturn]] void ThrowAnswerTooLate();

// The Stalled of a download below the slowest rate, with the system's own text when it told.
[[noreturn]] void ThrowStalled(const std::wstring& systemText = {});

// The PastDeadline of the update under way.
[[noreturn]] void ThrowPastDeadline();

// What each backend does with every block of a body as it arrives: waits as long as the shared
// bandwidth limit asks, and throws TransientFailure once a small document has taken too long or a
// download has kept below the slowest rate for a whole window.
class BodyPace {
 public:
  explicit BodyPace(const Request& request);
  void Arrived(std::uint64_t count);

 private:
  using Clock = std::chrono::steady_clock;
  bool whole_;
  Clock::time_point started_;
  Clock::time_point windowStart_;
  std::uint64_t windowBytes_ = 0;
};

// "{prefix}: {systemText}", with line ends and full stops trimmed off the end of the text.
std::wstring WithSystemText(const std::wstring& prefix, std::wstring systemText);

}  // namespace launcher
