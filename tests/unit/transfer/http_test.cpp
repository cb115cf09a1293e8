// One contract for both HTTP backends (libcurl and WinHTTP), against the scripted server.

#include "launcher/transfer/http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "launcher/text/failure.h"
#include "launcher/text/text.h"
#include "launcher/transfer/interruptions.h"
#include "launcher/transfer/text_fetch.h"
#include "support/failure_of.h"
#include "support/scoped_transfers.h"
#include "support/scripted_server.h"

namespace launcher {
namespace {

using support::Always;
using support::FailureOf;
using support::FileFaults;
using support::Response;
using support::ScriptedServer;
using support::ServeFile;

struct Received {
  std::vector<std::uint64_t> starts;
  std::string body;
  std::size_t largestChunk = 0;
};

Received Get(const std::wstring& url, std::uint64_t from) {
  Received received;
  HttpGet(
      url, from, [&](std::uint64_t offset) { received.starts.push_back(offset); },
      [&](const std::uint8_t* bytes, std::uint64_t count) {
        EXPECT_EQ(received.starts.size(), 1u) << "a chunk before onStart";
        EXPECT_GT(count, 0u);
        received.largestChunk = std::max<std::size_t>(received.largestChunk, count);
        received.body.append(reinterpret_cast<const char*>(bytes), count);
      });
  return received;
}

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  return bytes;
}

TEST(HttpGet, WholeBodyWithoutRangeHeaderAndTheUserAgent) {
  ScriptedServer server;
  const std::string content = Pattern(300000);
  server.Route("/file.bin", ServeFile(content));
  const Received received = Get(server.Url("/file.bin"), 0);
  EXPECT_EQ(received.starts, std::vector<std::uint64_t>{0});
  EXPECT_TRUE(received.body == content);
  EXPECT_LE(received.largestChunk, kReadBufferSize);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("range"), std::nullopt);
  EXPECT_EQ(requests[0].Header("user-agent"), "QuellornLauncher/2.2");
}

TEST(HttpGet, ResumesWithARangeWhenTheServerHonoursIt) {
  ScriptedServer server;
  const std::string content = Pattern(2 * 1048576 + 17);
  server.Route("/file.bin", ServeFile(content));
  const Received received = Get(server.Url("/file.bin"), 1048576);
  EXPECT_EQ(received.starts, std::vector<std::uint64_t>{1048576});
  EXPECT_TRUE(received.body == content.substr(1048576));
  EXPECT_EQ(server.Requests().at(0).Header("range"), "bytes=1048576-");
}

TEST(HttpGet, AServerIgnoringTheRangeStartsFromZero) {
  ScriptedServer server;
  const std::string content = Pattern(5000);
  server.Route("/file.bin", ServeFile(content, FileFaults{.ignoreRange = true}));
  const Received received = Get(server.Url("/file.bin"), 1000);
  EXPECT_EQ(received.starts, std::vector<std::uint64_t>{0});
  EXPECT_TRUE(received.body == content);
}

TEST(HttpGet, StatusRules) {
  ScriptedServer server;
  server.Route("/file.bin", ServeFile(Pattern(5000)));
  server.Route("/elsewhere", ServeFile(Pattern(5000), FileFaults{.rangeStartsAt = 0}));
  server.Route("/partial", Always(Response{.status = 206, .body = "x"}));
  server.Route("/no-range-header", Always(Response{.status = 206, .body = "x"}));
  server.Route("/refused", Always(Response{.status = 416}));
  server.Route("/broken", Always(Response{.status = 500, .body = "oops"}));
  server.Route("/moved", Always(Response{.status = 304}));

  const std::pair<std::wstring, std::wstring> cases[] = {
      {FailureOf([&] { Get(server.Url("/missing"), 0); }), L"The server answered 404"},
      {FailureOf([&] { Get(server.Url("/broken"), 0); }), L"The server answered 500"},
      {FailureOf([&] { Get(server.Url("/moved"), 0); }), L"The server answered 304"},
      {FailureOf([&] { Get(server.Url("/partial"), 0); }), L"The server answered 206"},
      {FailureOf([&] { Get(server.Url("/refused"), 0); }), L"The server answered 416"},
      {FailureOf([&] { Get(server.Url("/elsewhere"), 1000); }),
       L"The server answered with another part of the file"},
      {FailureOf([&] { Get(server.Url("/no-range-header"), 10); }),
       L"The server answered with another part of the file"},
  };
  for (const auto& [got, expected] : cases) EXPECT_EQ(got, expected);
  EXPECT_THROW(Get(server.Url("/file.bin"), 5000), RangeRefused);
  EXPECT_THROW(Get(server.Url("/refused"), 1), RangeRefused);
}

TEST(HttpGet, EmptyBodyStartsAndDeliversNothing) {
  ScriptedServer server;
  server.Route("/empty", Always(Response{}));
  const Received received = Get(server.Url("/empty"), 0);
  EXPECT_EQ(received.starts, std::vector<std::uint64_t>{0});
  EXPECT_EQ(received.body, "");
}

TEST(HttpGet, CallbackExceptionsPassThroughUnchanged) {
  ScriptedServer server;
  server.Route("/file.bin", ServeFile(Pattern(1 << 20), FileFaults{.chunk = 4096}));
  int chunks = 0;
  EXPECT_THROW(HttpGet(
                   server.Url("/file.bin"), 0, [](std::uint64_t) {},
                   [&](const std::uint8_t*, std::uint64_t) {
                     ++chunks;
                     throw Stopped{};
                   }),
               Stopped);
  EXPECT_EQ(chunks, 1);
  EXPECT_THROW(
      HttpGet(
          server.Url("/file.bin"), 0, [](std::uint64_t) { throw std::runtime_error("start"); },
          [](const std::uint8_t*, std::uint64_t) { ADD_FAILURE(); }),
      std::runtime_error);
  // The server is still usable: nothing was left half-read on our side.
  EXPECT_EQ(Get(server.Url("/file.bin"), 0).body.size(), 1u << 20);
}

TEST(HttpGet, ABodyCutShortFailsAsCutOff) {
  ScriptedServer server;
  server.Route("/file.bin", ServeFile(Pattern(200000), FileFaults{.cutAfter = 70000}));
  std::string body;
  const std::wstring message = FailureOf([&] {
    HttpGet(
        server.Url("/file.bin"), 0, [](std::uint64_t) {},
        [&](const std::uint8_t* bytes, std::uint64_t count) {
          body.append(reinterpret_cast<const char*>(bytes), count);
        });
  });
  EXPECT_TRUE(message.starts_with(L"The download was cut off: "))
      << ::testing::PrintToString(message);
  EXPECT_FALSE(message.ends_with(L".")) << ::testing::PrintToString(message);
  EXPECT_TRUE(body == Pattern(200000).substr(0, 70000)) << body.size();
}

TEST(HttpGet, ASlowServerIsWaitedFor) {
  ScriptedServer server;
  server.Route("/slow",
               ServeFile("worth the wait", FileFaults{.stall = std::chrono::milliseconds(1500)}));
  EXPECT_EQ(Get(server.Url("/slow"), 0).body, "worth the wait");
}

TEST(HttpGet, AddressesThatArentOne) {
  for (const std::wstring url : {L"ftp://127.0.0.1/file.bin", L"not a url", L""}) {
    const std::wstring message = FailureOf([&] { Get(url, 0); });
    EXPECT_TRUE(message.starts_with(L"The address isn't one: "))
        << ::testing::PrintToString(message);
  }
  const std::wstring longPath = L"http://127.0.0.1/" + std::wstring(2100, L'a');
  EXPECT_TRUE(FailureOf([&] { Get(longPath, 0); }).starts_with(L"The address isn't one: "));
}

TEST(HttpGet, NobodyListeningMeansTheServerCantBeReached) {
  std::wstring url;
  {
    ScriptedServer gone;
    url = gone.Url("/file.bin");
  }
  const std::wstring message = FailureOf([&] { Get(url, 0); });
  EXPECT_TRUE(message.starts_with(L"Couldn't reach the server: "))
      << ::testing::PrintToString(message);
}

TEST(HttpGet, SixConcurrentDownloadersKeepToSixConnections) {
  ScriptedServer server;
  constexpr int kFiles = 120;
  // Built in place: GCC 12 at -O3 sees a false overlap in "/" + std::to_string(i).
  const auto pathOf = [](int i) {
    std::string path = "/";
    path += std::to_string(i);
    return path;
  };
  for (int i = 0; i < kFiles; ++i) server.Route(pathOf(i), ServeFile(Pattern(65536)));
  std::atomic<int> next{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = next++; i < kFiles; i = next++) {
        if (GetText(server.Url(pathOf(i)), kFeedLimit).size() != 65536) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(server.Requests().size(), static_cast<size_t>(kFiles));
  EXPECT_LE(server.Connections(), 6);
}

TEST(HttpGet, RedirectsAreFollowedTenTimesAtMost) {
  ScriptedServer server;
  const std::string content = Pattern(5000);
  server.Route("/file.bin", ServeFile(content));
  const std::string absolute = Narrow(server.Url("/file.bin"));
  for (const int status : {301, 302, 307, 308}) {
    server.Route("/moved" + std::to_string(status),
                 Always(Response{.status = status, .headers = {{"Location", "/file.bin"}}}));
  }
  server.Route("/absolute", Always(Response{.status = 302, .headers = {{"Location", absolute}}}));
  server.Route("/loop", Always(Response{.status = 302, .headers = {{"Location", "/loop"}}}));
  // A signed address on a CDN: a Location of 1,400 characters, relative to a folder of 600, leads
  // to an address of 2,000 whole. (Wine's WinHTTP cuts any header line at 1,460 bytes.)
  const std::string folder = "/" + std::string(600, 'd') + "/";
  const std::string token = "file.bin?token=" + std::string(1385, 'q');
  server.Route(folder + token, ServeFile(content));
  server.Route("/signed",
               Always(Response{.status = 302, .headers = {{"Location", folder + "start"}}}));
  server.Route(folder + "start", Always(Response{.status = 308, .headers = {{"Location", token}}}));
  for (const char* path :
       {"/moved301", "/moved302", "/moved307", "/moved308", "/absolute", "/signed"}) {
    std::string body;
    EXPECT_EQ(FailureOf([&] { body = Get(server.Url(path), 0).body; }), L"") << path;
    EXPECT_TRUE(body == content) << path;
  }
  // The range goes along to where the redirect leads.
  EXPECT_TRUE(Get(server.Url("/moved302"), 1000).body == content.substr(1000));
  EXPECT_EQ(server.Requests().back().Header("range"), "bytes=1000-");
  const std::wstring loop = FailureOf([&] { Get(server.Url("/loop"), 0); });
  EXPECT_TRUE(loop.starts_with(L"Couldn't reach the server: ")) << Narrow(loop);
  std::size_t loops = 0;
  for (const auto& request : server.Requests()) loops += request.path == "/loop";
  EXPECT_LE(loops, 11u);
}

// How each kind of fault is told apart: what may pass with another try, and what won't.
TEST(HttpGet, TransientFaultsAreToldApart) {
  const support::ScopedTransfers quick([](TransferSettings& settings) {
    settings.textWithin = std::chrono::milliseconds(1500);
    settings.slowWindow = std::chrono::milliseconds(1000);
    settings.slowestRate = 20000;
  });
  ScriptedServer server;
  const std::string content = Pattern(200000);
  server.Route("/reset", ServeFile(content, FileFaults{.cutAfter = 70000, .reset = true}));
  server.Route("/busy", Always(Response{.status = 503, .headers = {{"Retry-After", "7"}}}));
  server.Route("/many", Always(Response{.status = 429}));
  server.Route("/missing", Always(Response{.status = 404}));
  // 2 bytes every 100 ms: a feed that never arrives, and a download far below the slowest rate.
  server.Route("/drip",
               ServeFile(content, FileFaults{.chunk = 2, .pause = std::chrono::milliseconds(100)}));
  struct Case {
    const char* path;
    bool whole;  // fetched as a small document
    const wchar_t* starts;
    bool transient;
    std::optional<std::chrono::seconds> retryAfter;
    bool stalled = false;  // below the slowest rate: retried, and counted as a crawl
  };
  const Case cases[] = {
      {"/reset", false, L"The download was cut off: ", true, std::nullopt},
      {"/busy", false, L"The server answered 503", true, std::chrono::seconds(7)},
      {"/many", false, L"The server answered 429", true, std::nullopt},
      {"/missing", false, L"The server answered 404", false, std::nullopt},
      {"/drip", true, L"Couldn't reach the server: ", true, std::nullopt},
      {"/drip", false, L"The download was cut off: less than 20000 bytes a second", true,
       std::nullopt, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + (c.whole ? " whole" : ""));
    const auto started = std::chrono::steady_clock::now();
    try {
      Request request;
      request.whole = c.whole;
      HttpGet(
          server.Url(c.path), request, [](std::uint64_t) {},
          [](const std::uint8_t*, std::uint64_t) {});
      ADD_FAILURE() << "no failure";
    } catch (const Stalled& failure) {
      EXPECT_TRUE(c.stalled);
      EXPECT_TRUE(failure.message.starts_with(c.starts)) << Narrow(failure.message);
    } catch (const TransientFailure& failure) {
      EXPECT_FALSE(c.stalled);
      EXPECT_TRUE(c.transient);
      EXPECT_TRUE(failure.message.starts_with(c.starts)) << Narrow(failure.message);
      EXPECT_EQ(failure.retryAfter, c.retryAfter);
    } catch (const Failure& failure) {
      EXPECT_FALSE(c.transient);
      EXPECT_TRUE(failure.message.starts_with(c.starts)) << Narrow(failure.message);
    }
    // Given up on in the time allowed, not after the whole drip.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
}

TEST(GetText, TheLimitIsTestedBeforeEachAppend) {
  ScriptedServer server;
  server.Route("/exact", ServeFile(Pattern(kFeedLimit)));
  server.Route("/over", ServeFile(Pattern(kFeedLimit + 1)));
  server.Route("/empty", Always(Response{}));
  server.Route("/partial", Always(Response{.status = 206, .body = "x"}));
  EXPECT_TRUE(GetText(server.Url("/exact"), kFeedLimit) == Pattern(kFeedLimit));
  EXPECT_EQ(FailureOf([&] { GetText(server.Url("/over"), kFeedLimit); }),
            L"The update server answered with far too much");
  EXPECT_EQ(GetText(server.Url("/empty"), kFeedLimit), "");
  EXPECT_EQ(FailureOf([&] { GetText(server.Url("/partial"), kFeedLimit); }),
            L"The server answered 206");
  for (const auto& request : server.Requests()) EXPECT_EQ(request.Header("range"), std::nullopt);
}

}  // namespace
}  // namespace launcher
