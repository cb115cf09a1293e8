#pragma once
// One HTTP or HTTPS GET whose body reaches the caller block by block, optionally from a byte
// offset with a Range request. The launcher's only network code: WinHTTP on Windows, libcurl on
// Linux, held to the same status rules and messages. Safe to call from several threads at once;
// the callbacks run on the calling thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

// Bytes handed to onChunk at most at once.
inline constexpr std::size_t kReadBufferSize = 65536;

using StartCallback = std::function<void(std::uint64_t offset)>;
using ChunkCallback = std::function<void(const std::uint8_t* bytes, std::uint64_t count)>;

// `from` 0 asks for the whole body; above 0 sends "Range: bytes={from}-". onStart runs once,
// before any body byte, with the offset the delivered bytes begin at: `from` when the server
// honoured the range, 0 when it sent the whole resource. Throws Failure with the player's
// message, RangeRefused for a 416 to a ranged request, and whatever a callback throws, always
// after closing the request.
void HttpGet(const std::wstring& url, std::uint64_t from, const StartCallback& onStart,
             const ChunkCallback& onChunk);

// What the status of a response means for a request made from `from`: the offset for onStart,
// or a thrown Failure or RangeRefused. `contentRange` is read only for a 206 (nullptr when the
// header couldn't be read). Shared by both HTTP backends.
std::uint64_t AcceptResponse(std::uint32_t status, std::uint64_t from,
                             const std::wstring* contentRange);

// "{prefix}: {systemText}", with line ends and full stops trimmed off the end of the text.
std::wstring WithSystemText(const std::wstring& prefix, std::wstring systemText);

}  // namespace launcher
