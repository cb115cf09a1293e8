#include "support/scripted_server.h"

#include <algorithm>
#include <cctype>

#include "launcher/text/text.h"

namespace launcher::support {

namespace {

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    default:
      return "Scripted";
  }
}

std::string Lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t");
  const size_t end = text.find_last_not_of(" \t\r");
  return start == std::string::npos ? std::string() : text.substr(start, end - start + 1);
}

Request ParseRequest(const std::string& head, int connection) {
  Request request;
  request.connection = connection;
  size_t lineEnd = head.find("\r\n");
  const std::string requestLine = head.substr(0, lineEnd);
  const size_t pathStart = requestLine.find(' ') + 1;
  request.path = requestLine.substr(pathStart, requestLine.find(' ', pathStart) - pathStart);
  while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line = head.substr(start, lineEnd - start);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      request.headers[Lower(line.substr(0, colon))] = Trim(line.substr(colon + 1));
    }
  }
  return request;
}

}  // namespace

std::optional<std::string> Request::Header(const std::string& name) const {
  const auto found = headers.find(Lower(name));
  if (found == headers.end()) return std::nullopt;
  return found->second;
}

Script ServeFile(std::string content, FileFaults faults) {
  return [content = std::move(content), faults](const Request& request) {
    Response response;
    response.cutAfter = faults.cutAfter;
    response.reset = faults.reset;
    response.stall = faults.stall;
    response.chunk = faults.chunk;
    response.pause = faults.pause;
    const auto range = request.Header("range");
    if (!range || faults.ignoreRange || !range->starts_with("bytes=")) {
      response.body = content;
      return response;
    }
    const std::uint64_t start = std::stoull(range->substr(6));
    if (start >= content.size()) {
      response.status = 416;
      response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(content.size()));
      return response;
    }
    // "bytes=N-M" ends at M (within the file), "bytes=N-" at the file's end.
    const std::size_t dash = range->find('-');
    std::uint64_t end = content.size() - 1;
    if (dash + 1 < range->size())
      end = std::min<std::uint64_t>(end, std::stoull(range->substr(dash + 1)));
    response.status = 206;
    response.body = content.substr(start, end - start + 1);
    if (faults.spoilRanges && !response.body.empty()) response.body[0] ^= 1;
    response.headers.emplace_back(
        "Content-Range", "bytes " + std::to_string(faults.rangeStartsAt.value_or(start)) + "-" +
                             std::to_string(end) + "/" + std::to_string(content.size()));
    return response;
  };
}

Script Always(Response response) {
  return [response = std::move(response)](const Request&) { return response; };
}

ScriptedServer::ScriptedServer() : listener_(Socket::ListenOnLoopback(port_)) {
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  acceptor_.join();

  // No thread is added once the acceptor has ended.
  for (auto& thread : threads_) thread.join();
}

void ScriptedServer::Route(const std::string& path, Script script) {
  const std::lock_guard lock(mutex_);
  scripts_[path] = std::move(script);
}

std::wstring ScriptedServer::Url(const std::string& path) const {
  return Widen("http://127.0.0.1:" + std::to_string(port_) + path);
}

std::vector<Request> ScriptedServer::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void ScriptedServer::AcceptLoop() {
  while (!stopping_) {
    if (!listener_.WaitReadable(20)) continue;
    Socket connection = listener_.Accept();
    if (!connection) continue;
    const int number = ++connections_;
    const std::lock_guard lock(mutex_);
    threads_.emplace_back([this, number](Socket socket) { Serve(std::move(socket), number); },
                          std::move(connection));
  }
}

bool ScriptedServer::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return stopping_.load(); });
}

void ScriptedServer::Serve(Socket connection, int number) {
  if (ServeRequests(connection, number)) {
    connection.Reset();
  } else {
    connection.Shutdown();
  }
}

bool ScriptedServer::ServeRequests(const Socket& connection, int number) {
  std::string pending;
  char buffer[4096];
  while (!stopping_) {
    const size_t headEnd = pending.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
      if (!connection.WaitReadable(20)) continue;
      const auto received = connection.Receive(buffer, sizeof buffer);
      if (received <= 0) return false;
      pending.append(buffer, static_cast<size_t>(received));
      continue;
    }
    const Request request = ParseRequest(pending.substr(0, headEnd + 2), number);
    pending.erase(0, headEnd + 4);
    Script script;
    {
      const std::lock_guard lock(mutex_);
      requests_.push_back(request);
      const auto found = scripts_.find(request.path);
      if (found != scripts_.end()) script = found->second;
    }
    Response response;
    if (script) {
      response = script(request);
    } else {
      response.status = 404;
      response.body = "not found";
    }
    const int now = ++answering_;
    for (int most = mostAnswers_; now > most && !mostAnswers_.compare_exchange_weak(most, now);) {
    }
    bool reset = false;
    const bool keepAlive = Answer(connection, response, reset);
    --answering_;
    if (!keepAlive) return reset;
  }
  return false;
}

bool ScriptedServer::Answer(const Socket& connection, const Response& response, bool& reset) {
  const std::uint64_t promised = response.contentLength.value_or(response.body.size());
  const bool keepAlive = !response.cutAfter && promised == response.body.size();
  std::string head =
      "HTTP/1.1 " + std::to_string(response.status) + " " + Reason(response.status) + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  head += "Content-Length: " + std::to_string(promised) + "\r\n";
  if (!keepAlive) head += "Connection: close\r\n";
  head += "\r\n";
  if (!connection.Send(head, stopping_)) return false;
  if (response.stall.count() > 0 && !Sleep(response.stall)) return false;

  const size_t end =
      std::min(response.body.size(), response.cutAfter.value_or(response.body.size()));
  const size_t piece = response.chunk > 0 ? response.chunk : std::max<size_t>(end, 1);
  for (size_t at = 0; at < end; at += piece) {
    if (at > 0 && response.pause.count() > 0 && !Sleep(response.pause)) return false;
    if (!connection.Send(std::string_view(response.body).substr(at, std::min(piece, end - at)),
                         stopping_)) {
      return false;
    }
  }
  reset = response.reset;
  return keepAlive;
}

}  // namespace launcher::support
