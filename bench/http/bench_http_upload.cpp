// WinHttpClient::Execute("PUT") against `curl -T`: the same 256 MiB body to
// the same loopback discard server in the same run.  Each iteration runs in
// a child process of its own, so that its peak resident memory (the kernel's
// accounting of the ended child) belongs to that upload alone.  Printed
// afterwards: the time ratio (target: Execute at most 1.25 x curl) and the
// peak memory of each, with what Execute holds beyond the caller's buffer
// and the client's one copy of it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discard_server.h"
#include "http/win_http_client.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using inkseal::bench::DiscardServer;

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kBodyBytes = 256 * kMiB;
constexpr double kTimeTarget = 1.25;

struct Summary {
  double totalSeconds = 0;
  int runs = 0;
  double peakMiB = 0;
  double MeanSeconds() const { return runs ? totalSeconds / runs : 0; }
};

struct Setup {
  DiscardServer server;
  fs::path body;
  Summary execute;
  Summary curl;
};
Setup* setup = nullptr;

std::string UploadUrl() { return "http://127.0.0.1:" + std::to_string(setup->server.Port()) + "/upload"; }

void FillBody(char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
}

double PeakMiB(const rusage& usage) { return usage.ru_maxrss / 1024.0; }  // kibibytes

// One Execute in a child process: its time, reported through a pipe.
bool ExecuteInChild(double& seconds, double& peakMiB) {
  int channel[2];
  if (pipe(channel) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    std::vector<char> body(kBodyBytes);
    FillBody(body.data(), body.size());
    const std::string url = UploadUrl();
    inkseal::WinHttpClient client(std::u16string(url.begin(), url.end()), nullptr);
    client.AttachBody(body.data(), static_cast<uint32_t>(body.size()));
    const std::string headers = "Content-Length: " + std::to_string(body.size()) +
                                "\r\nContent-Type: application/pdf\r\n\r\nConnection: keep-alive\r\n\r\n"
                                "Authorization: OAuth oauth_signature_method=\"PLAINTEXT\"";
    client.SetExtraHeaders(std::u16string(headers.begin(), headers.end()));
    const auto start = std::chrono::steady_clock::now();
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

bool CurlUpload(double& seconds, double& peakMiB) {
  const std::string url = UploadUrl();
  const std::string body = setup->body.string();
  std::vector<const char*> argv = {"/usr/bin/curl", "-s", "-f", "-o", "/dev/null", "-H",
                                   "Content-Type: application/pdf", "-T", body.c_str(), url.c_str(), nullptr};
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

void Upload(benchmark::State& state, bool (*upload)(double&, double&), Summary& summary) {
  for (auto _ : state) {
    double seconds = 0;
    double peakMiB = 0;
    if (!upload(seconds, peakMiB)) {
      state.SkipWithError("the upload failed");
      return;
    }
    state.SetIterationTime(seconds);
    summary.totalSeconds += seconds;
    summary.runs += 1;
    summary.peakMiB = std::max(summary.peakMiB, peakMiB);
  }
  state.counters["peak_MiB"] = summary.peakMiB;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
}

void BM_CurlCommandLine(benchmark::State& state) { Upload(state, CurlUpload, setup->curl); }
void BM_WinHttpClientExecute(benchmark::State& state) { Upload(state, ExecuteInChild, setup->execute); }

BENCHMARK(BM_CurlCommandLine)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WinHttpClientExecute)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void PrintVerdict() {
  const Summary& ours = setup->execute;
  const Summary& theirs = setup->curl;
  if (!ours.runs || !theirs.runs) return;
  const double ratio = ours.MeanSeconds() / theirs.MeanSeconds();
  const double bodyMiB = static_cast<double>(kBodyBytes) / kMiB;
  std::printf("\n256 MiB PUT to a loopback discard server, mean of %d runs each\n", ours.runs);
  std::printf("  Execute  %8.1f ms   peak %7.1f MiB (caller's body + the client's copy = %.0f MiB)\n",
              ours.MeanSeconds() * 1e3, ours.peakMiB, 2 * bodyMiB);
  std::printf("  curl -T  %8.1f ms   peak %7.1f MiB\n", theirs.MeanSeconds() * 1e3, theirs.peakMiB);
  std::printf("  time ratio Execute / curl: %.2f (target at most %.2f): %s\n", ratio, kTimeTarget,
              ratio <= kTimeTarget ? "met" : "MISSED");
  std::printf("  Execute's memory beyond the two copies: %.1f MiB (no third copy: %s)\n",
              ours.peakMiB - 2 * bodyMiB, ours.peakMiB - 2 * bodyMiB < bodyMiB / 2 ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Setup state;
  setup = &state;
  state.body = fs::temp_directory_path() / ("inkseal-bench-http-" + std::to_string(getpid()) + ".bin");
  {
    std::vector<char> body(kBodyBytes);
    FillBody(body.data(), body.size());
    std::ofstream(state.body, std::ios::binary).write(body.data(), static_cast<std::streamsize>(body.size()));
  }
  benchmark::RunSpecifiedBenchmarks();
  PrintVerdict();
  benchmark::Shutdown();
  fs::remove(state.body);
  setup = nullptr;
  return 0;
}
