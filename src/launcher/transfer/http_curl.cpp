// libcurl implementation of HttpGet; only Linux-specific code lives here. One share of
// connections, DNS answers and TLS sessions serves every request of the process, so concurrent
// downloads reuse their connections.

#include "launcher/transfer/http.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "launcher/text/failure.h"
#include "launcher/text/product.h"
#include "launcher/text/text.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/transfer_settings.h"

namespace launcher {

namespace {

constexpr int kMaxRedirects = 10;

struct Share {
  CURLSH* handle = nullptr;
  std::wstring error;
  std::mutex locks[CURL_LOCK_DATA_LAST];
};

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* share) {
  static_cast<Share*>(share)->locks[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* share) {
  static_cast<Share*>(share)->locks[data].unlock();
}

// Made once even when several threads ask together, and never released. A share that couldn't
// be made stays absent, with its error kept for every later request.
const Share& GetShare() {
  static Share share;
  static std::once_flag once;
  std::call_once(once, [] {
    if (const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
      share.error = Widen(curl_easy_strerror(code));
      return;
    }
    share.handle = curl_share_init();
    if (share.handle == nullptr) {
      share.error = L"libcurl couldn't make its connection share";
      return;
    }
    curl_share_setopt(share.handle, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(share.handle, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(share.handle, CURLSHOPT_USERDATA, &share);
    curl_share_setopt(share.handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share.handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share.handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  });
  return share;
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct TextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using OwnedText = std::unique_ptr<char, TextDeleter>;

OwnedText UrlPart(CURLU* url, CURLUPart part) {
  char* text = nullptr;
  curl_url_get(url, part, &text, 0);
  return OwnedText(text);
}

// The checks that WinHTTP's URL splitting makes: http or https, a host of at most 255
// characters and a path of at most 2,047. Returns the scheme.
std::string CheckAddress(const std::string& address) {
  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url) throw std::bad_alloc();
  if (const CURLUcode code = curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0)) {
    throw Failure{WithSystemText(L"The address isn't one", Widen(curl_url_strerror(code)))};
  }
  const OwnedText scheme = UrlPart(url.get(), CURLUPART_SCHEME);
  const OwnedText host = UrlPart(url.get(), CURLUPART_HOST);
  const OwnedText path = UrlPart(url.get(), CURLUPART_PATH);
  const std::string schemeText = scheme ? scheme.get() : "";
  if (schemeText != "http" && schemeText != "https") {
    throw Failure{WithSystemText(L"The address isn't one",
                                 Widen(curl_url_strerror(CURLUE_UNSUPPORTED_SCHEME)))};
  }
  if (!host || Widen(host.get()).size() > 255 || (path && Widen(path.get()).size() > 2047)) {
    throw Failure{
        WithSystemText(L"The address isn't one", Widen(curl_url_strerror(CURLUE_MALFORMED_INPUT)))};
  }
  return schemeText;
}

// One request's state, shared with curl's callbacks. Exceptions never cross curl: a callback
// keeps the first one and stops the transfer, and HttpGet throws it once curl has returned.
struct Exchange {
  explicit Exchange(const Request& made) : request(made), pace(made) {}

  const Request& request;
  const StartCallback* onStart = nullptr;
  const ChunkCallback* onChunk = nullptr;
  CURL* easy = nullptr;
  std::string address;  // of this hop
  BodyPace pace;

  std::optional<std::wstring> contentRange;  // of the response being read
  std::optional<std::string> location;
  std::optional<std::chrono::seconds> retryAfter;
  bool started = false;  // onStart has run: body bytes may follow
  std::string redirect;  // where a followed redirect leads
  std::exception_ptr error;
};

const std::string& UserAgent() {
  static const std::string agent = Narrow(kUserAgent);
  return agent;
}

// `prefix` is lower case. Only ASCII letters are folded: header bytes of 0x80 and above are no
// letters of a header name, and the locale must not decide.
bool StartsWithNoCase(const std::string& text, const char* prefix) {
  const std::string_view view(prefix);
  return text.size() >= view.size() &&
         std::equal(view.begin(), view.end(), text.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
         });
}

std::string HeaderValue(const std::string& line, size_t nameLength) {
  size_t start = line.find_first_not_of(" \t", nameLength);
  size_t end = line.find_last_not_of(" \t\r\n");
  if (start == std::string::npos || end == std::string::npos || end < start) return {};
  return line.substr(start, end - start + 1);
}

// A Location, relative or not, resolved against the address that answered with it; empty when
// it isn't an address.
std::string Resolve(const std::string& base, const std::string& location) {
  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, location.c_str(), 0) != CURLUE_OK) {
    return {};
  }
  const OwnedText resolved = UrlPart(url.get(), CURLUPART_URL);
  return resolved ? resolved.get() : "";
}

// The headers of a response are complete: an interim answer, a redirect to follow, or the
// final answer whose status decides.
void FinishHeaders(Exchange& exchange) {
  long status = 0;
  curl_easy_getinfo(exchange.easy, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 100 && status < 200) return;  // an interim answer; the real one follows
  if (status >= 300 && status < 400 && exchange.location) {
    const std::string next = Resolve(exchange.address, *exchange.location);
    // Never from https to plain http: then the redirect itself is the answer, as with WinHTTP.
    const bool https = exchange.address.starts_with("https://");
    if (next.starts_with("https://") || (!https && next.starts_with("http://"))) {
      exchange.redirect = next;
      return;
    }
  }
  const std::wstring* contentRange = exchange.contentRange ? &*exchange.contentRange : nullptr;
  const std::uint64_t offset =
      AcceptResponse(static_cast<std::uint32_t>(status), exchange.request.from, contentRange,
                     exchange.retryAfter, exchange.request.length > 0);
  exchange.started = true;
  (*exchange.onStart)(offset);
}

size_t OnHeader(char* data, size_t size, size_t count, void* context) {
  auto& exchange = *static_cast<Exchange*>(context);
  const std::string line(data, size * count);
  try {
    if (line.starts_with("HTTP/")) {
      exchange.contentRange.reset();
      exchange.location.reset();
      exchange.retryAfter.reset();
    } else if (StartsWithNoCase(line, "content-range:")) {
      exchange.contentRange = Widen(HeaderValue(line, 14));
    } else if (StartsWithNoCase(line, "location:")) {
      exchange.location = HeaderValue(line, 9);
    } else if (StartsWithNoCase(line, "retry-after:")) {
      exchange.retryAfter = ParseRetryAfter(Widen(HeaderValue(line, 12)));
    } else if (line == "\r\n" || line == "\n") {
      FinishHeaders(exchange);
    }
  } catch (...) {
    exchange.error = std::current_exception();
    return 0;
  }
  return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* context) {
  auto& exchange = *static_cast<Exchange*>(context);
  const size_t total = size * count;
  if (!exchange.redirect.empty()) return total;  // the body of a redirect is dropped
  if (!exchange.started) return 0;
  try {
    for (size_t at = 0; at < total; at += kReadBufferSize) {
      const size_t block = std::min(kReadBufferSize, total - at);
      exchange.pace.Arrived(block);
      (*exchange.onChunk)(reinterpret_cast<const std::uint8_t*>(data + at), block);
    }
  } catch (...) {
    exchange.error = std::current_exception();
    return 0;
  }
  return total;
}

// Under a bandwidth limit the system mustn't take in more than a block ahead of it, as it would
// when left to tune its receive buffer: the limit holds on the wire too, not only here.
int KeepReceiveBufferSmall(void*, curl_socket_t socket, curlsocktype) {
  const int size = static_cast<int>(kReadBufferSize);
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  return CURL_SOCKOPT_OK;
}

// One easy handle for each thread, reset between requests: its buffers and the wake-up sockets
// of its transfer loop are made once per thread, not once per file. A request made from inside
// another's callback gets a handle of its own.
class ThreadEasy {
 public:
  ThreadEasy() {
    thread_local std::unique_ptr<CURL, EasyDeleter> kept(curl_easy_init());
    thread_local bool busy = false;
    if (!busy && kept) {
      busy_ = &busy;
      busy = true;
      easy_ = kept.get();
      curl_easy_reset(easy_);
    } else {
      own_.reset(curl_easy_init());
      easy_ = own_.get();
    }
    if (easy_ == nullptr) {
      throw Failure{WithSystemText(L"No connection", L"libcurl couldn't make a request")};
    }
  }
  ~ThreadEasy() {
    if (busy_ != nullptr) *busy_ = false;
  }
  ThreadEasy(const ThreadEasy&) = delete;
  ThreadEasy& operator=(const ThreadEasy&) = delete;

  CURL* Get() const { return easy_; }

 private:
  std::unique_ptr<CURL, EasyDeleter> own_;
  bool* busy_ = nullptr;
  CURL* easy_ = nullptr;
};

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Sets every option of one hop's request on the reset handle `e`. The strings given must live
// until the transfer ends.
void SetOptions(CURL* e, Exchange& exchange, const Share& share, curl_slist* headers,
                const std::string& range, char* errorText) {
  const TransferSettings& settings = Transfers();
  curl_easy_setopt(e, CURLOPT_URL, exchange.address.c_str());
  curl_easy_setopt(e, CURLOPT_SHARE, share.handle);
  // The share keeps this many idle connections; libcurl's default of 5 is fewer than the six
  // downloads that run at once, and each extra one would be closed and opened again.
  curl_easy_setopt(e, CURLOPT_MAXCONNECTS, 16L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_USERAGENT, UserAgent().c_str());
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, 15000L);
  // Too slow for too long fails as a cut download does; silence is the slowest of all.
  const long window = static_cast<long>(std::max<std::int64_t>(
      1, std::chrono::duration_cast<std::chrono::seconds>(settings.slowWindow).count()));
  if (exchange.request.whole) {
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.textWithin.count()));
  } else {
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(std::max<std::uint64_t>(1, settings.slowestRate)));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, window);
  }
  // Proxies come from the environment (http_proxy, https_proxy, no_proxy); the proxy's own
  // answer to CONNECT isn't the server's.
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // TLS verification stays on in every build: a certificate the system doesn't trust fails.
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kReadBufferSize));
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
  if (!range.empty()) curl_easy_setopt(e, CURLOPT_RANGE, range.c_str());
  if (headers != nullptr) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers);
  if (settings.bandwidthLimit > 0) {
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, KeepReceiveBufferSmall);
  }
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &exchange);
}

// One hop: where its redirect leads, or empty once the body has been delivered.
std::string GetOnce(CURL* e, const std::string& address, const Request& request,
                    const StartCallback& onStart, const ChunkCallback& onChunk,
                    curl_slist* headers) {
  Exchange exchange(request);
  exchange.onStart = &onStart;
  exchange.onChunk = &onChunk;
  exchange.easy = e;
  exchange.address = address;
  char errorText[CURL_ERROR_SIZE] = {};
  // CURLOPT_RANGE takes the value without its "bytes=".
  const std::string rangeValue = RangeOf(request);
  const std::string range = rangeValue.empty() ? std::string() : rangeValue.substr(6);
  SetOptions(e, exchange, GetShare(), headers, range, errorText);

  const CURLcode code = curl_easy_perform(e);
  if (exchange.error) std::rethrow_exception(exchange.error);
  if (code == CURLE_OPERATION_TIMEDOUT && request.whole) ThrowAnswerTooLate();
  // A body below the slowest rate for the whole window, or one that stopped coming.
  if (code == CURLE_OPERATION_TIMEDOUT && exchange.started) ThrowStalled(Widen(errorText));
  if (code != CURLE_OK) {
    // The connection broke, timed out or was too slow: worth another try.
    ThrowTransient(exchange.started ? L"The download was cut off" : L"Couldn't reach the server",
                   Widen(errorText[0] != '\0' ? errorText : curl_easy_strerror(code)));
  }
  if (exchange.redirect.empty() && !exchange.started) {
    ThrowTransient(L"Couldn't reach the server", Widen(curl_easy_strerror(CURLE_GOT_NOTHING)));
  }
  return exchange.redirect;
}

}  // namespace

void HttpGet(const std::wstring& url, const Request& request, const StartCallback& onStart,
             const ChunkCallback& onChunk) {
  std::string address = Narrow(url);
  CheckAddress(address);
  const Share& share = GetShare();
  if (share.handle == nullptr) throw Failure{WithSystemText(L"No connection", share.error)};
  std::unique_ptr<curl_slist, HeaderListDeleter> headers;
  if (request.noCache) headers.reset(curl_slist_append(nullptr, "Cache-Control: no-cache"));

  const ThreadEasy easy;
  for (int redirects = 0;; ++redirects) {
    if (redirects > 0) curl_easy_reset(easy.Get());
    std::string next = GetOnce(easy.Get(), address, request, onStart, onChunk, headers.get());
    if (next.empty()) return;
    if (redirects == kMaxRedirects) {
      throw Failure{WithSystemText(L"Couldn't reach the server",
                                   Widen(curl_easy_strerror(CURLE_TOO_MANY_REDIRECTS)))};
    }
    address = std::move(next);
    CheckAddress(address);
  }
}

}  // namespace launcher
