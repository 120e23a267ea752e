#include "discard_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace inkseal::bench {
namespace {

constexpr size_t kReceiveBufferBytes = 1 << 20;
constexpr char kHeadEnd[] = "\r\n\r\n";
constexpr char kReply[] =
    "HTTP/1.1 201 Created\r\nX-Open-Browser: http://127.0.0.1/discarded\r\nContent-Length: 0\r\n\r\n";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The value of a header line in a lower-cased head, or empty.
std::string HeaderValue(const std::string& head, const std::string& name) {
  const size_t at = head.find("\r\n" + name + ":");
  if (at == std::string::npos) return {};
  const size_t start = head.find_first_not_of(" \t", at + name.size() + 3);
  return head.substr(start, head.find("\r\n", start) - start);
}

bool SendAll(int connection, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = send(connection, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

DiscardServer::DiscardServer() {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (listener_ >= 0) close(listener_);
    throw std::runtime_error("discard server: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

DiscardServer::~DiscardServer() {
  stopping_ = true;
  shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  close(listener_);
  std::lock_guard<std::mutex> lock(connectionsLock_);
  for (auto& connection : connections_) connection.join();
}

void DiscardServer::AcceptLoop() {
  while (!stopping_) {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) continue;
    std::lock_guard<std::mutex> lock(connectionsLock_);
    connections_.emplace_back([this, connection] {
      Serve(connection);
      close(connection);
    });
  }
}

void DiscardServer::Serve(int connection) {
  std::string buffer(kReceiveBufferBytes, '\0');
  std::string pending;
  for (;;) {
    size_t headEnd;
    while ((headEnd = pending.find(kHeadEnd)) == std::string::npos) {
      const ssize_t got = recv(connection, buffer.data(), buffer.size(), 0);
      if (got <= 0) return;
      pending.append(buffer.data(), static_cast<size_t>(got));
    }
    const std::string head = Lower(pending.substr(0, headEnd + 2));
    pending.erase(0, headEnd + 4);
    uint64_t remaining = std::strtoull(HeaderValue(head, "content-length").c_str(), nullptr, 10);
    if (HeaderValue(head, "expect") == "100-continue" && !SendAll(connection, kContinue, sizeof kContinue - 1)) {
      return;
    }
    const uint64_t buffered = std::min<uint64_t>(remaining, pending.size());
    pending.erase(0, buffered);
    remaining -= buffered;
    bodyBytes_ += buffered;
    while (remaining > 0) {
      const ssize_t got = recv(connection, buffer.data(), std::min<uint64_t>(buffer.size(), remaining), 0);
      if (got <= 0) return;
      remaining -= static_cast<uint64_t>(got);
      bodyBytes_ += static_cast<uint64_t>(got);
    }
    if (!SendAll(connection, kReply, sizeof kReply - 1)) return;
  }
}

}  // namespace inkseal::bench
