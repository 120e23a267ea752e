#include "discard_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace inkseal::bench {
namespace {

constexpr size_t kReceiveBufferBytes = 1 << 20;
// A throttled server's segment and socket receive buffer.
constexpr size_t kSegmentBytes = 1460;
constexpr int kThrottledWindowBytes = 8192;
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

}  // namespace

struct DiscardServer::Tls {
  SSL_CTX* context = nullptr;
  ~Tls() { SSL_CTX_free(context); }
};

// One accepted connection, plain or TLS.
class DiscardServer::Stream {
 public:
  Stream(int socket, SSL_CTX* tls) : socket_(socket) {
    if (tls == nullptr) return;
    ssl_ = SSL_new(tls);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, socket) != 1 || SSL_accept(ssl_) != 1) failed_ = true;
  }
  ~Stream() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    close(socket_);
  }
  bool Failed() const { return failed_; }
  ssize_t Receive(char* buffer, size_t size) {
    if (ssl_ == nullptr) return recv(socket_, buffer, size, 0);
    const int got = SSL_read(ssl_, buffer, static_cast<int>(std::min<size_t>(size, INT32_MAX)));
    return got > 0 ? got : -1;
  }
  bool SendAll(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t sent = ssl_ != nullptr ? SSL_write(ssl_, data, static_cast<int>(size))
                                           : send(socket_, data, size, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

 private:
  int socket_;
  SSL* ssl_ = nullptr;
  bool failed_ = false;
};

DiscardServer::DiscardServer(const std::string& certificatePem, const std::string& keyPem,
                             uint64_t readBytesPerSecond)
    : readBytesPerSecond_(readBytesPerSecond) {
  if (!certificatePem.empty()) {
    tls_ = std::make_unique<Tls>();
    tls_->context = SSL_CTX_new(TLS_server_method());
    if (tls_->context == nullptr ||
        SSL_CTX_use_certificate_chain_file(tls_->context, certificatePem.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(tls_->context, keyPem.c_str(), SSL_FILETYPE_PEM) != 1) {
      throw std::runtime_error("discard server: cannot load the certificate");
    }
  }
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ >= 0 && readBytesPerSecond_ != 0) {
    // Before listening, so that the window the connections offer is small.
    setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kThrottledWindowBytes, sizeof kThrottledWindowBytes);
  }
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

std::string DiscardServer::UploadUrl() const {
  return std::string(Secure() ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/upload";
}

void DiscardServer::AcceptLoop() {
  while (!stopping_) {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) continue;
    // Small answers (100 Continue, the reply, TLS session tickets) go out at
    // once: Nagle's delay against the client's delayed acknowledgement would
    // cost a peer 40 ms that no client is to blame for.
    const int noDelay = 1;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    std::lock_guard<std::mutex> lock(connectionsLock_);
    connections_.emplace_back([this, connection] {
      Stream stream(connection, tls_ ? tls_->context : nullptr);
      if (!stream.Failed()) Serve(stream);
    });
  }
}

void DiscardServer::Serve(Stream& stream) {
  std::string buffer(kReceiveBufferBytes, '\0');
  std::string pending;
  for (;;) {
    size_t headEnd;
    while ((headEnd = pending.find(kHeadEnd)) == std::string::npos) {
      const ssize_t got = stream.Receive(buffer.data(), buffer.size());
      if (got <= 0) return;
      pending.append(buffer.data(), static_cast<size_t>(got));
    }
    const std::string head = Lower(pending.substr(0, headEnd + 2));
    pending.erase(0, headEnd + 4);
    uint64_t remaining = std::strtoull(HeaderValue(head, "content-length").c_str(), nullptr, 10);
    if (HeaderValue(head, "expect") == "100-continue" && !stream.SendAll(kContinue, sizeof kContinue - 1)) {
      return;
    }
    const uint64_t buffered = std::min<uint64_t>(remaining, pending.size());
    pending.erase(0, buffered);
    remaining -= buffered;
    bodyBytes_ += buffered;
    const size_t piece = readBytesPerSecond_ != 0 ? kSegmentBytes : buffer.size();
    while (remaining > 0) {
      if (readBytesPerSecond_ != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(kSegmentBytes * 1000000 / readBytesPerSecond_));
      }
      const ssize_t got = stream.Receive(buffer.data(), std::min<uint64_t>(piece, remaining));
      if (got <= 0) return;
      remaining -= static_cast<uint64_t>(got);
      bodyBytes_ += static_cast<uint64_t>(got);
    }
    if (!stream.SendAll(kReply, sizeof kReply - 1)) return;
  }
}

bool MakeSelfSignedCertificate(const std::string& folder, std::string& certificatePem, std::string& keyPem) {
  certificatePem = folder + "/discard-server.crt";
  keyPem = folder + "/discard-server.key";
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                              "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
                              keyPem + "' -out '" + certificatePem + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace inkseal::bench
