#pragma once
// An HTTP/1.1 server that a test starts inside its own process, on loopback. Each path plays a
// script: what to answer and how (status, headers, a body in chunks, a stall, a cut, more or
// fewer bytes than promised). It records every request and counts connections, so a test can
// prove what the client sent. Connections are kept alive unless a script ends them.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/socket.h"

namespace launcher::support {

struct Request {
  std::string path;
  std::map<std::string, std::string> headers;  // names in lower case
  int connection = 0;                          // which connection carried it, from 1

  std::optional<std::string> Header(const std::string& name) const;
};

struct Response {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::optional<std::uint64_t> contentLength;  // promised length; the body's size when unset
  std::optional<std::size_t> cutAfter;         // close the connection after this many bytes
  bool reset = false;                          // ... with a reset instead of a close
  std::chrono::milliseconds stall{0};          // wait between the headers and the body
  std::size_t chunk = 0;                       // send the body in pieces of this size
  std::chrono::milliseconds pause{0};          // wait between the pieces: a body that drips
};

using Script = std::function<Response(const Request&)>;

// How a scripted static file departs from a well-behaved server.
struct FileFaults {
  bool ignoreRange = false;                    // answer 200 with everything
  std::optional<std::uint64_t> rangeStartsAt;  // claim another start in Content-Range
  bool spoilRanges = false;                    // one wrong byte in every ranged answer
  std::optional<std::size_t> cutAfter;
  bool reset = false;
  std::chrono::milliseconds stall{0};
  std::size_t chunk = 0;
  std::chrono::milliseconds pause{0};
};

// A file served as a static server serves it: 200, or 206 with Content-Range for "bytes=N-" and
// "bytes=N-M", or 416 when N is at or past the end.
Script ServeFile(std::string content, FileFaults faults = {});

// The same answer to every request.
Script Always(Response response);

class ScriptedServer {
 public:
  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  void Route(const std::string& path, Script script);  // unrouted paths answer 404
  std::wstring Url(const std::string& path) const;     // http://127.0.0.1:PORT + path

  std::vector<Request> Requests() const;
  int Connections() const { return connections_; }
  int MostAnswersAtOnce() const { return mostAnswers_; }  // responses being sent at the same time

 private:
  void AcceptLoop();
  void Serve(Socket connection, int number);
  bool ServeRequests(const Socket& connection, int number);  // true: end with a reset
  // False when the connection must end; `reset` when it must end with a reset.
  bool Answer(const Socket& connection, const Response& response, bool& reset);
  bool Sleep(std::chrono::milliseconds duration);

  std::uint16_t port_ = 0;
  Socket listener_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> answering_{0};
  std::atomic<int> mostAnswers_{0};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, Script> scripts_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace launcher::support
