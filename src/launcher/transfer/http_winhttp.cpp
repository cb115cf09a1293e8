// WinHTTP implementation of HttpGet; only Windows-specific code lives here.

#include "launcher/transfer/http.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <mutex>
#include <optional>
#include <vector>

#include "launcher/platform/handles_win32.h"
#include "launcher/text/failure.h"
#include "launcher/text/format.h"
#include "launcher/text/product.h"
#include "launcher/text/text.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/transfer_settings.h"

namespace launcher {

namespace {

// "{prefix}: " and the system's text for the last error, looked up in WinHTTP's own message table
// first: its error codes (12002 and so on) have no text among the system's messages.
std::wstring LastErrorText(const std::wstring& prefix) {
  const DWORD code = GetLastError();
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_HMODULE |
          FORMAT_MESSAGE_FROM_SYSTEM,
      GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text =
      length > 0 && buffer != nullptr ? std::wstring(buffer, length) : Format(L"error {}", code);
  LocalFree(buffer);
  return WithSystemText(prefix, std::move(text));
}

// The process-wide session, made once even when several threads ask together, and never closed.
// A session that couldn't be made stays absent; its error code is kept for every later request.
struct Session {
  HINTERNET handle = nullptr;
  DWORD error = 0;
};

const Session& GetSession() {
  static Session session;
  static std::once_flag once;
  std::call_once(once, [] {
    session.handle = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session.handle == nullptr) {
      session.error = GetLastError();
      return;
    }
    // Name resolution, connect, send, receive.
    WinHttpSetTimeouts(session.handle, 15000, 15000, 30000, 60000);
  });
  return session;
}

// The body length the server promised, when it promised one.
std::optional<std::uint64_t> ContentLength(HINTERNET request) {
  wchar_t value[32] = {};
  DWORD bytes = sizeof value;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           value, &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  wchar_t* end = nullptr;
  const std::uint64_t length = std::wcstoull(value, &end, 10);
  if (end == value || *end != L'\0') return std::nullopt;
  return length;
}

// The value of a response header, when the response has it.
std::optional<std::wstring> HeaderText(HINTERNET request, DWORD header) {
  wchar_t value[128] = {};
  DWORD bytes = sizeof value;
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value, &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return std::wstring(value);
}

// A connection that broke or timed out: worth another try, as on Linux.
[[noreturn]] void ThrowTransientLastError(const std::wstring& prefix) {
  throw TransientFailure{{LastErrorText(prefix)}, std::nullopt};
}

constexpr int kMaxRedirects = 10;

// One request, redirects WinHTTP follows included. Returns where a redirect it left to us leads
// (Wine's WinHTTP doesn't follow 308), or nothing once the body has been delivered.
std::optional<std::wstring> GetOnce(const std::wstring& url, const Request& made, BodyPace& pace,
                                    const StartCallback& onStart, const ChunkCallback& onChunk) {
  const std::uint64_t from = made.from;
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = static_cast<DWORD>(std::size(host));
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = static_cast<DWORD>(std::size(path));
  // Length 0: the URL is a terminated string.
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    throw Failure{LastErrorText(L"The address isn't one")};
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    throw Failure{LastErrorText(L"The address isn't one")};
  }

  const Session& session = GetSession();
  if (session.handle == nullptr) {
    SetLastError(session.error);
    throw Failure{LastErrorText(L"No connection")};
  }

  const InternetHandle connection(WinHttpConnect(session.handle, host, parts.nPort, 0));
  if (!connection) ThrowTransientLastError(L"Couldn't reach the server");
  // TLS validation stays WinHTTP's default: a certificate the system doesn't trust fails here.
  const InternetHandle request(WinHttpOpenRequest(
      connection.Get(), L"GET", path, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) ThrowTransientLastError(L"Couldn't reach the server");
  if (made.whole) {
    // A small document's headers too must come within its time, however slowly they drip.
    DWORD within = static_cast<DWORD>(Transfers().textWithin.count());
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &within,
                     sizeof within);
  }

  const std::string range = RangeOf(made);
  std::wstring headers = range.empty() ? std::wstring() : L"Range: " + Widen(range) + L"\r\n";
  if (made.noCache) headers += L"Cache-Control: no-cache\r\n";
  if (!WinHttpSendRequest(request.Get(),
                          headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.Get(), nullptr)) {
    ThrowTransientLastError(L"Couldn't reach the server");
  }

  // An unreadable status stays 0, which no rule accepts.
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  std::wstring contentRange;
  bool haveContentRange = false;
  if (status == 206) {
    wchar_t value[128] = {};
    DWORD bytes = sizeof value;
    haveContentRange =
        WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_CONTENT_RANGE,
                            WINHTTP_HEADER_NAME_BY_INDEX, value, &bytes, WINHTTP_NO_HEADER_INDEX);
    contentRange = value;
  }
  const bool redirect =
      status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  if (const auto location = HeaderText(request.Get(), WINHTTP_QUERY_LOCATION);
      redirect && location) {
    const std::wstring next = ResolveLocation(url, *location);
    // Never from https to plain http, as WinHTTP's own policy has it.
    if (next.starts_with(L"https://") ||
        (parts.nScheme == INTERNET_SCHEME_HTTP && next.starts_with(L"http://"))) {
      return next;
    }
  }
  std::optional<std::chrono::seconds> retryAfter;
  if (const auto text = HeaderText(request.Get(), WINHTTP_QUERY_RETRY_AFTER)) {
    retryAfter = ParseRetryAfter(*text);
  }
  onStart(AcceptResponse(status, from, haveContentRange ? &contentRange : nullptr, retryAfter,
                         made.length > 0));

  const std::optional<std::uint64_t> promised = ContentLength(request.Get());
  std::uint64_t delivered = 0;
  std::vector<std::uint8_t> buffer(kReadBufferSize);
  for (;;) {
    // What has arrived, as soon as anything has: a read of the whole buffer could wait for a
    // dripping server far past every limit.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.Get(), &available)) {
      ThrowTransientLastError(L"The download was cut off");
    }
    if (available == 0) break;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
    if (!WinHttpReadData(request.Get(), buffer.data(), wanted, &read)) {
      ThrowTransientLastError(L"The download was cut off");
    }
    if (read == 0) break;
    delivered += read;
    pace.Arrived(read);
    onChunk(buffer.data(), read);
  }
  // A connection that closes before the promised length may read as a clean end. Calling it
  // cut off keeps the bytes for a resumed download instead of taking a short body for a whole.
  if (promised && delivered < *promised) {
    SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
    ThrowTransientLastError(L"The download was cut off");
  }
  return std::nullopt;
}

}  // namespace

void HttpGet(const std::wstring& url, const Request& made, const StartCallback& onStart,
             const ChunkCallback& onChunk) {
  BodyPace pace(made);
  std::wstring address = url;
  for (int redirects = 0;; ++redirects) {
    std::optional<std::wstring> next = GetOnce(address, made, pace, onStart, onChunk);
    if (!next) return;
    if (redirects == kMaxRedirects) {
      SetLastError(ERROR_WINHTTP_REDIRECT_FAILED);
      throw Failure{LastErrorText(L"Couldn't reach the server")};
    }
    address = std::move(*next);
  }
}

}  // namespace launcher
