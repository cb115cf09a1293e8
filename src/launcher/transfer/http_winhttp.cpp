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

// The value of a response header, when the response has it, however long: a redirect to a signed
// address on a CDN easily takes a couple of thousand characters.
std::optional<std::wstring> HeaderText(HINTERNET request, DWORD header) {
  DWORD bytes = 0;
  if (WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &bytes, WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  value.resize(bytes / sizeof(wchar_t));
  return value;
}

// A connection that broke or timed out: worth another try, as on Linux.
[[noreturn]] void ThrowTransientLastError(const std::wstring& prefix) {
  throw TransientFailure{{LastErrorText(prefix)}, std::nullopt};
}

// A body that broke off; one that stopped coming for the whole receive timeout has stalled.
[[noreturn]] void ThrowCutOff() {
  if (GetLastError() == ERROR_WINHTTP_TIMEOUT) ThrowStalled(LastErrorText(L"WinHTTP"));
  ThrowTransientLastError(L"The download was cut off");
}

constexpr int kMaxRedirects = 10;

// Where a request goes, as WinHttpConnect and WinHttpOpenRequest take it.
struct Target {
  std::wstring host;
  std::wstring path;  // with the query
  INTERNET_PORT port = 0;
  bool https = false;
};

// Throws Failure "The address isn't one" for anything but an http or https URL with a host of
// at most 255 characters and a path of at most 2,047 (the query aside), as on Linux.
Target Crack(const std::wstring& url) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof parts;
  // No buffers: each part is found as a pointer into the URL and a length, however long.
  parts.dwHostNameLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  // Length 0: the URL is a terminated string.
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    throw Failure{LastErrorText(L"The address isn't one")};
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    SetLastError(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    throw Failure{LastErrorText(L"The address isn't one")};
  }
  if (parts.dwHostNameLength == 0 || parts.dwHostNameLength > 255 || parts.dwUrlPathLength > 2047) {
    SetLastError(ERROR_WINHTTP_INVALID_URL);
    throw Failure{LastErrorText(L"The address isn't one")};
  }
  const auto text = [](const wchar_t* start, DWORD length) {
    return start == nullptr ? std::wstring() : std::wstring(start, length);
  };
  std::wstring path = text(parts.lpszUrlPath, parts.dwUrlPathLength);
  const std::wstring extra = text(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  path += extra.substr(0, extra.find(L'#'));  // a fragment is the client's, never sent
  return {text(parts.lpszHostName, parts.dwHostNameLength), path.empty() ? L"/" : path, parts.nPort,
          parts.nScheme == INTERNET_SCHEME_HTTPS};
}

// The request sent and its response's headers received.
InternetHandle Send(HINTERNET connection, const Target& target, const Request& made) {
  // TLS validation stays WinHTTP's default: a certificate the system doesn't trust fails here.
  InternetHandle request(WinHttpOpenRequest(connection, L"GET", target.path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            target.https ? WINHTTP_FLAG_SECURE : 0));
  if (!request) ThrowTransientLastError(L"Couldn't reach the server");
  // Every redirect is followed here, by the rules of both builds: Wine's WinHTTP cuts a long
  // Location short and doesn't follow 308.
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
  if (made.whole) {
    // A small document's headers too must come within its time, however slowly they drip.
    DWORD within = static_cast<DWORD>(Transfers().textWithin.count());
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &within,
                     sizeof within);
  } else {
    // A body that stops coming for the slow window has stalled, as on Linux.
    DWORD window = static_cast<DWORD>(Transfers().slowWindow.count());
    WinHttpSetOption(request.Get(), WINHTTP_OPTION_RECEIVE_TIMEOUT, &window, sizeof window);
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
  return request;
}

// Where a redirect leads, when it may be followed.
std::optional<std::wstring> RedirectOf(HINTERNET request, DWORD status, const std::wstring& url,
                                       bool https) {
  if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
    return std::nullopt;
  }
  const std::optional<std::wstring> location = HeaderText(request, WINHTTP_QUERY_LOCATION);
  if (!location) return std::nullopt;
  const std::wstring next = ResolveLocation(url, *location);
  // Never from https to plain http, as WinHTTP's own policy has it.
  if (next.starts_with(L"https://") || (!https && next.starts_with(L"http://"))) return next;
  return std::nullopt;
}

void ReadBody(HINTERNET request, BodyPace& pace, const ChunkCallback& onChunk) {
  const std::optional<std::uint64_t> promised = ContentLength(request);
  std::uint64_t delivered = 0;
  std::vector<std::uint8_t> buffer(kReadBufferSize);
  for (;;) {
    // What has arrived, as soon as anything has: a read of the whole buffer could wait for a
    // dripping server far past every limit.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      ThrowCutOff();
    }
    if (available == 0) break;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
    if (!WinHttpReadData(request, buffer.data(), wanted, &read)) {
      ThrowCutOff();
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
    ThrowCutOff();
  }
}

// One request. Returns where its redirect leads, or nothing once the body has been delivered.
std::optional<std::wstring> GetOnce(const std::wstring& url, const Request& made, BodyPace& pace,
                                    const StartCallback& onStart, const ChunkCallback& onChunk) {
  const Target target = Crack(url);
  const Session& session = GetSession();
  if (session.handle == nullptr) {
    SetLastError(session.error);
    throw Failure{LastErrorText(L"No connection")};
  }
  const InternetHandle connection(
      WinHttpConnect(session.handle, target.host.c_str(), target.port, 0));
  if (!connection) ThrowTransientLastError(L"Couldn't reach the server");
  const InternetHandle request = Send(connection.Get(), target, made);

  // An unreadable status stays 0, which no rule accepts.
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  if (auto next = RedirectOf(request.Get(), status, url, target.https)) return next;
  const std::optional<std::wstring> contentRange =
      status == 206 ? HeaderText(request.Get(), WINHTTP_QUERY_CONTENT_RANGE) : std::nullopt;
  std::optional<std::chrono::seconds> retryAfter;
  if (const auto text = HeaderText(request.Get(), WINHTTP_QUERY_RETRY_AFTER)) {
    retryAfter = ParseRetryAfter(*text);
  }
  onStart(AcceptResponse(status, made.from, contentRange ? &*contentRange : nullptr, retryAfter,
                         made.length > 0));
  ReadBody(request.Get(), pace, onChunk);
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
