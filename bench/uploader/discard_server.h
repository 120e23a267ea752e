// A loopback HTTP/1.1 server that reads every request body as fast as the
// socket delivers it, throws it away and answers 201 with an X-Open-Browser
// address: the cheapest possible peer for timing an upload client.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace inkseal::bench {

class DiscardServer {
 public:
  DiscardServer();  // listens on 127.0.0.1, on a port of the system's choice
  ~DiscardServer();
  DiscardServer(const DiscardServer&) = delete;
  DiscardServer& operator=(const DiscardServer&) = delete;

  uint16_t Port() const { return port_; }
  uint64_t BodyBytes() const { return bodyBytes_; }

 private:
  void AcceptLoop();
  void Serve(int connection);

  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> bodyBytes_{0};
  std::atomic<bool> stopping_{false};
  std::mutex connectionsLock_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

}  // namespace inkseal::bench
