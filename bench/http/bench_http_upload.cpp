// WinHttpClient::Execute("PUT") against `curl -T` (`curl --cacert -T` over
// https): the same 256 MiB file to the same loopback discard server in the
// same run, over http and over https (a self-signed certificate made at run
// time with openssl, which both clients check: it is also the authority
// each is told to trust).  Execute sends the file as the uploader does: read
// whole once, then streamed piece by piece through a RequestBody.  Each
// iteration runs in a child process of its own, so that its peak resident
// memory (the kernel's accounting of the ended child) belongs to that
// upload alone.  Printed afterwards, from the median times: the time ratio
// (target: Execute at most 1.0 x curl) and the peak memory of each (target:
// at most 16 MiB beyond what the process holds without a body).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discard_server.h"
#include "run_summary.h"
#include "http/win_http_client.h"
#include "platform/document_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using inkseal::bench::DiscardServer;

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kBodyBytes = 256 * kMiB;
constexpr double kTimeTarget = 1.0;
constexpr double kMemoryAllowanceMiB = 16;

using inkseal::bench::Summary;

struct Setup {
  fs::path folder;
  fs::path body;
  std::unique_ptr<DiscardServer> servers[2];  // http, https
  std::string certificate;                    // the https server's, also its authority
  Summary execute[2];
  Summary curl[2];
};
Setup* setup = nullptr;

std::string UploadUrl(int secure) { return setup->servers[secure]->UploadUrl(); }

class FileBody : public inkseal::RequestBody {
 public:
  explicit FileBody(inkseal::platform::DocumentFile& file) : file(file) {}
  void Rewind() override { file.Rewind(); }
  bool ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) override {
    return file.ReadPiece(buffer, capacity, count);
  }

 private:
  inkseal::platform::DocumentFile& file;
};

double PeakMiB(const rusage& usage) { return usage.ru_maxrss / 1024.0; }  // kibibytes

// One Execute in a child process: its time, reported through a pipe.  The
// timed span starts before the file is read, as the uploader's does.
bool ExecuteInChild(int secure, double& seconds, double& peakMiB) {
  int channel[2];
  if (pipe(channel) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    const std::string url = UploadUrl(secure);
    const std::string path = setup->body.string();
    const auto start = std::chrono::steady_clock::now();
    inkseal::platform::DocumentFile file;
    if (!file.ReadWhole(std::u16string(path.begin(), path.end()))) _exit(3);
    FileBody body(file);
    inkseal::WinHttpClient client(std::u16string(url.begin(), url.end()), nullptr);
    client.certificateAuthorities = std::u16string(setup->certificate.begin(), setup->certificate.end());
    client.AttachBody(body);
    const std::string headers = "Content-Length: " + std::to_string(file.Size()) +
                                "\r\nContent-Type: application/pdf\r\n\r\nConnection: keep-alive\r\n\r\n"
                                "Authorization: OAuth oauth_signature_method=\"PLAINTEXT\"";
    client.SetExtraHeaders(std::u16string(headers.begin(), headers.end()));
    const bool ok = client.Execute(u"PUT", false) && client.BrowserUrl() == u"http://127.0.0.1/discarded";
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (write(channel[1], &elapsed, sizeof elapsed) != sizeof elapsed) _exit(2);
    _exit(ok ? 0 : 1);
  }
  close(channel[1]);
  if (pid < 0) {
    close(channel[0]);
    return false;
  }
  const bool reported = read(channel[0], &seconds, sizeof seconds) == sizeof seconds;
  close(channel[0]);
  rusage usage{};
  int status = 0;
  wait4(pid, &status, 0, &usage);
  peakMiB = PeakMiB(usage);
  return reported && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CurlUpload(int secure, double& seconds, double& peakMiB) {
  const std::string url = UploadUrl(secure);
  const std::string body = setup->body.string();
  std::vector<const char*> argv = {"/usr/bin/curl", "-s", "-f", "-o", "/dev/null", "-H",
                                   "Content-Type: application/pdf"};
  if (secure) {
    argv.push_back("--cacert");
    argv.push_back(setup->certificate.c_str());
  }
  argv.insert(argv.end(), {"-T", body.c_str(), url.c_str(), nullptr});
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv.data()), environ) != 0) return false;
  rusage usage{};
  int status = 0;
  wait4(pid, &status, 0, &usage);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  peakMiB = PeakMiB(usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// curl and Execute take turns within each iteration, so that a burst of
// load from elsewhere on a shared machine falls on both alike; the ratio is
// taken from the medians.  The iteration's time is Execute's.
void Upload(benchmark::State& state, int secure) {
  for (auto _ : state) {
    double seconds = 0;
    double peakMiB = 0;
    if (!CurlUpload(secure, seconds, peakMiB)) {
      state.SkipWithError("curl's upload failed");
      return;
    }
    setup->curl[secure].seconds.push_back(seconds);
    setup->curl[secure].peakMiB = std::max(setup->curl[secure].peakMiB, peakMiB);
    if (!ExecuteInChild(secure, seconds, peakMiB)) {
      state.SkipWithError("Execute's upload failed");
      return;
    }
    setup->execute[secure].seconds.push_back(seconds);
    setup->execute[secure].peakMiB = std::max(setup->execute[secure].peakMiB, peakMiB);
    state.SetIterationTime(seconds);
  }
  state.counters["peak_MiB"] = setup->execute[secure].peakMiB;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

void RegisterCases() {
  for (const int secure : {0, 1}) {
    benchmark::RegisterBenchmark((std::string("BM_ExecuteAndCurl/") + (secure ? "https" : "http")).c_str(),
                                 [=](benchmark::State& state) { Upload(state, secure); })
        ->Iterations(7)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

void PrintVerdict() {
  std::printf("\n256 MiB PUT of a file to a loopback discard server, median of 7 runs each\n");
  for (const int secure : {0, 1}) {
    const Summary& ours = setup->execute[secure];
    const Summary& theirs = setup->curl[secure];
    if (ours.seconds.empty() || theirs.seconds.empty()) continue;
    const double ratio = ours.MedianSeconds() / theirs.MedianSeconds();
    std::printf("  %-5s Execute %8.1f ms  peak %6.1f MiB | curl -T %8.1f ms  peak %6.1f MiB | "
                "ratio %.2f (target at most %.2f): %s; memory beyond curl's %.1f MiB (at most %.0f): %s\n",
                secure ? "https" : "http", ours.MedianSeconds() * 1e3, ours.peakMiB, theirs.MedianSeconds() * 1e3,
                theirs.peakMiB, ratio, kTimeTarget, ratio <= kTimeTarget ? "met" : "MISSED",
                ours.peakMiB - theirs.peakMiB, kMemoryAllowanceMiB,
                ours.peakMiB - theirs.peakMiB <= kMemoryAllowanceMiB ? "met" : "MISSED");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Setup state;
  setup = &state;
  state.folder = fs::temp_directory_path() / ("inkseal-bench-http-" + std::to_string(getpid()));
  fs::create_directories(state.folder);
  state.body = state.folder / "body.bin";
  std::string certificate, key;
  if (!inkseal::bench::MakeSelfSignedCertificate(state.folder.string(), certificate, key)) {
    std::fprintf(stderr, "openssl could not make a certificate\n");
    return 1;
  }
  state.servers[0] = std::make_unique<DiscardServer>();
  state.servers[1] = std::make_unique<DiscardServer>(certificate, key);
  state.certificate = certificate;
  RegisterCases();
  {
    // Written a mebibyte at a time: curl is started with vfork, and a child
    // started so reports its parent's peak memory as its own until it execs.
    std::vector<char> block(kMiB);
    std::ofstream out(state.body, std::ios::binary);
    for (size_t offset = 0; offset < kBodyBytes; offset += block.size()) {
      for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(((offset + i) * 2654435761u) >> 13);
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  PrintVerdict();
  benchmark::Shutdown();
  state.servers[0].reset();
  state.servers[1].reset();
  fs::remove_all(state.folder);
  setup = nullptr;
  return 0;
}
