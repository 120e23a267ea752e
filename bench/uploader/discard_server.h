// A loopback HTTP/1.1 server that reads every request body as fast as the
// socket delivers it, throws it away and answers 201 with an X-Open-Browser
// address: the cheapest possible peer for timing an upload client.  Plain
// http, or https with a certificate and key given as PEM files.  Throttled,
// it reads the body at a fixed rate in 1460-byte segments through a small
// receive window instead: a slow uplink.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace inkseal::bench {

class DiscardServer {
 public:
  // Listens on 127.0.0.1, on a port of the system's choice; https when a
  // certificate and its key are given; reading at most readBytesPerSecond
  // of the body when that is not 0.
  DiscardServer(const std::string& certificatePem = {}, const std::string& keyPem = {},
                uint64_t readBytesPerSecond = 0);
  ~DiscardServer();
  DiscardServer(const DiscardServer&) = delete;
  DiscardServer& operator=(const DiscardServer&) = delete;

  uint16_t Port() const { return port_; }
  bool Secure() const { return tls_ != nullptr; }
  // The upload address on this server.
  std::string UploadUrl() const;
  uint64_t BodyBytes() const { return bodyBytes_; }

 private:
  struct Tls;
  class Stream;
  void AcceptLoop();
  void Serve(Stream& stream);

  int listener_ = -1;
  uint16_t port_ = 0;
  std::unique_ptr<Tls> tls_;
  uint64_t readBytesPerSecond_ = 0;
  std::atomic<uint64_t> bodyBytes_{0};
  std::atomic<bool> stopping_{false};
  std::mutex connectionsLock_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// A self-signed certificate for 127.0.0.1 and its key, made with the
// openssl command in folder; the certificate is also its own authority,
// which both clients are told to trust.  False when the command failed.
bool MakeSelfSignedCertificate(const std::string& folder, std::string& certificatePem, std::string& keyPem);

}  // namespace inkseal::bench
