// Ferrowend against `curl -T` (`curl --cacert -T` over https): the same
// document to the same loopback discard server in the same run, over http
// and over https (a self-signed certificate made at run time with openssl).
// Both clients check the certificate: curl is given it with --cacert,
// Ferrowend with CertificateAuthorities= in the settings file beside it, so
// each does the same verification work.  Each
// iteration is one whole process, start to exit; its peak resident memory
// comes from the kernel's accounting of the ended child.  After the runs
// the ratios of the median times are printed with the targets, for 1, 64
// and 256 MiB so that the growth with the document's size shows:
//   time:    Ferrowend's start-to-exit at most curl's (ratio 1.00)
//   memory:  Ferrowend's peak at most the document plus 16 MiB
// and, apart, a slow uplink: a 2 MiB document to a discard server that
// reads 512 KiB a second through a small window, the same for both
// clients (the time is the link's; the ratio shows what Ferrowend adds).
//
// The browser step.  After the upload Ferrowend hands the reply's address to
// the desktop's default handler for https, found and started through GIO;
// curl opens no browser.  The handler is the desktop's program, not
// Ferrowend's, so the timed runs configure one that accepts any address at
// once (/bin/true, named in a private mimeapps.list): the step is still
// taken, only the browser's own cost is left out.  The same 1 MiB upload is
// also timed where GIO finds no handler and the stock xdg-open (told to use
// /bin/true as the browser) is the fallback, for information.
//
// The desktop's proxy resolver: the same 1 MiB upload over http, no proxy
// set, where GIO finds no resolver (its modules folder empty, as on a
// machine without glib-networking) against GNOME's resolver (GNOME's
// settings through GSettings' keyfile backend, mode "none") and libproxy's
// (a KDE session, whose settings libproxy reads); target: each within 1 ms
// of the first's median.
//
// The whole road: upload plus page hand-off for 1 MiB over http, with a
// recording handler configured as a desktop does it (a .desktop file and
// mimeapps.list in XDG_DATA_HOME), against `curl -T` alone; target at most
// 1.2 times curl's time.  The handler's log is checked for every address.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "discard_server.h"
#include "run_summary.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using inkseal::bench::DiscardServer;

constexpr size_t kMiB = 1024 * 1024;

struct Measure {
  double seconds = 0;
  double peakMiB = 0;
  int status = -1;
};

constexpr int kSizesMiB[] = {1, 64, 256};
constexpr int kSlowLinkMiB = 2;
constexpr uint64_t kSlowLinkBytesPerSecond = 512 * 1024;
constexpr double kTimeTarget = 1.0;
constexpr double kMemoryAllowanceMiB = 16;

using inkseal::bench::Summary;

enum class Scheme { Http, Https, SlowHttp };
const char* Name(Scheme scheme) {
  return scheme == Scheme::Http ? "http" : scheme == Scheme::Https ? "https" : "slow http";
}
constexpr Scheme kSchemes[] = {Scheme::Http, Scheme::Https, Scheme::SlowHttp};

// Shared by the benchmark cases of this one program run.
struct Setup {
  fs::path folder;
  std::unique_ptr<DiscardServer> servers[3];     // by Scheme
  fs::path ferrowend[3];                         // installed beside its upload address, by Scheme
  std::string certificate;                       // the https server's, also its authority
  std::vector<std::string> environment;          // a desktop handler that accepts at once
  std::vector<std::string> desktopEnvironment;   // no desktop handler: the stock xdg-open
  std::vector<std::string> wholeRoadEnvironment;  // a desktop handler that records each address
  fs::path handlerLog;                            // what that handler recorded
  std::vector<std::string> resolverEnvironments[3];  // by kResolverCases
  std::map<std::string, Summary> summaries;
};
Setup* setup = nullptr;

Measure RunProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  std::vector<char*> argv, envp;
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  Measure measure;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    measure.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.peakMiB = usage.ru_maxrss / 1024.0;  // kibibytes
    measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return measure;
}

fs::path Document(size_t bytes) {
  const fs::path path = setup->folder / ("document-" + std::to_string(bytes / kMiB) + "MiB.pdf");
  if (!fs::exists(path)) {
    std::string block(kMiB, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream out(path, std::ios::binary);
    out << "%PDF-1.4\n";
    for (size_t written = 9; written < bytes; written += block.size()) {
      out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), bytes - written)));
    }
  }
  return path;
}

std::string UploadUrl(Scheme scheme) { return setup->servers[static_cast<int>(scheme)]->UploadUrl(); }

enum class Client { Curl, Ferrowend, FerrowendWithStockXdgOpen };
const char* Name(Client client) {
  return client == Client::Curl ? "curl" : client == Client::Ferrowend ? "Ferrowend" : "Ferrowend+xdg-open";
}

std::string Key(const char* client, Scheme scheme, int mib) {
  return std::string(client) + "/" + Name(scheme) + "/" + std::to_string(mib);
}

struct Command {
  Client client;
  std::vector<std::string> arguments;
  const std::vector<std::string>* environment;
};

Command CommandFor(Client client, Scheme scheme, const fs::path& document) {
  if (client == Client::Curl) {
    std::vector<std::string> curl = {"/usr/bin/curl", "-s", "-f", "-o", "/dev/null"};
    if (scheme == Scheme::Https) curl.insert(curl.end(), {"--cacert", setup->certificate});
    curl.insert(curl.end(), {"-T", document.string(), UploadUrl(scheme)});
    return {client, curl, &setup->environment};
  }
  return {client,
          {setup->ferrowend[static_cast<int>(scheme)].string(), document.string()},
          client == Client::FerrowendWithStockXdgOpen ? &setup->desktopEnvironment : &setup->environment};
}

// The clients take turns within each iteration, so that a burst of load
// from elsewhere on a shared machine falls on both alike; the ratio is
// taken from the medians.  The iteration's time is Ferrowend's.
void Upload(benchmark::State& state, Scheme scheme, int mib, bool withStockXdgOpen) {
  const size_t bytes = static_cast<size_t>(mib) * kMiB;
  const fs::path document = Document(bytes);
  std::vector<Command> commands = {CommandFor(Client::Curl, scheme, document),
                                   CommandFor(Client::Ferrowend, scheme, document)};
  if (withStockXdgOpen) commands.push_back(CommandFor(Client::FerrowendWithStockXdgOpen, scheme, document));
  // One untimed run first, for each client alike: it brings the document
  // into the page cache and the program's libraries into memory, so every
  // timed run starts from the same warm machine.
  for (const Command& command : commands) {
    if (RunProcess(command.arguments, *command.environment).status != 0) {
      state.SkipWithError("the upload failed");
      return;
    }
  }
  for (auto _ : state) {
    for (const Command& command : commands) {
      const Measure measure = RunProcess(command.arguments, *command.environment);
      if (measure.status != 0) {
        state.SkipWithError("the upload failed");
        return;
      }
      Summary& summary = setup->summaries[Key(Name(command.client), scheme, mib)];
      summary.seconds.push_back(measure.seconds);
      summary.peakMiB = std::max(summary.peakMiB, measure.peakMiB);
      if (command.client == Client::Ferrowend) {
        state.SetIterationTime(measure.seconds);
        state.counters["peak_MiB"] = summary.peakMiB;
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void RegisterCases() {
  benchmark::RegisterBenchmark(("BM_FerrowendAndCurl/slow_http/" + std::to_string(kSlowLinkMiB)).c_str(),
                               [](benchmark::State& state) { Upload(state, Scheme::SlowHttp, kSlowLinkMiB, false); })
      ->Iterations(3)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  for (const int mib : kSizesMiB) {
    const int iterations = mib == 1 ? 30 : mib == 64 ? 10 : 7;
    for (const Scheme scheme : {Scheme::Http, Scheme::Https}) {
      const bool withStockXdgOpen = mib == 1 && scheme == Scheme::Http;
      benchmark::RegisterBenchmark(("BM_FerrowendAndCurl/" + std::string(Name(scheme)) + "/" + std::to_string(mib)).c_str(),
                                   [=](benchmark::State& state) { Upload(state, scheme, mib, withStockXdgOpen); })
          ->Iterations(iterations)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
}

// Makes exec (with the address as its argument) the default handler of
// http and https addresses in dataHome, as a desktop configures one.
void ConfigureDesktopHandler(const fs::path& dataHome, const std::string& exec) {
  const fs::path applications = dataHome / "applications";
  fs::create_directories(applications);
  std::ofstream(applications / "inkseal-bench-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Bench browser\nExec=" << exec << " %u\n"
      << "MimeType=x-scheme-handler/http;x-scheme-handler/https;\nNoDisplay=true\n";
  std::ofstream(applications / "mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/http=inkseal-bench-browser.desktop\n"
      << "x-scheme-handler/https=inkseal-bench-browser.desktop\n";
}

// An install folder with the upload address beside Ferrowend, credentials in
// the file beside it, and a browser that accepts any address at once:
// either the desktop's handler (GIO), or the stock xdg-open running
// /bin/true as $BROWSER.  Only the private data folders are read, so no
// browser of the machine is ever started.
void Install(const fs::path& built) {
  for (const Scheme scheme : kSchemes) {
    const fs::path install = setup->folder / (std::string("install-") + Name(scheme));
    fs::create_directories(install);
    fs::path& ferrowend = setup->ferrowend[static_cast<int>(scheme)];
    ferrowend = install / "Ferrowend";
    fs::copy_file(built, ferrowend, fs::copy_options::overwrite_existing);
    std::ofstream(install / "vod995.ini") << "[Parameters]\nLumeskURL=" << UploadUrl(scheme) << "\n"
                                          << "CertificateAuthorities=" << setup->certificate << "\n"
                                          << "OAuthClientKey=ck\nOAuthClientSecret=cs\n"
                                          << "OAuthTokenKey=tk\nOAuthTokenSecret=ts\n";
  }
  std::vector<std::string> common;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool dropped = false;
    for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "BROWSER=", "XDG_CURRENT_DESKTOP=", "XDG_DATA_HOME=",
                             "XDG_DATA_DIRS=", "XDG_CONFIG_HOME=", "XDG_CONFIG_DIRS="}) {
      dropped = dropped || entry.rfind(name, 0) == 0;
    }
    if (!dropped) common.push_back(entry);
  }
  common.push_back("BROWSER=/bin/true");
  common.push_back("INKSEAL_MESSAGE_OUTPUT=stderr");
  for (const char* name : {"XDG_DATA_DIRS=", "XDG_CONFIG_HOME=", "XDG_CONFIG_DIRS="}) {
    common.push_back(name + (setup->folder / "no-desktop").string());
  }
  setup->environment = setup->desktopEnvironment = setup->wholeRoadEnvironment = common;
  ConfigureDesktopHandler(setup->folder / "desktop", "/bin/true");
  setup->environment.push_back("XDG_DATA_HOME=" + (setup->folder / "desktop").string());
  setup->desktopEnvironment.push_back("XDG_DATA_HOME=" + (setup->folder / "no-desktop").string());
  // The whole road's handler records what it is given.
  setup->handlerLog = setup->folder / "opened.log";
  const fs::path recorder = setup->folder / "record-address.sh";
  std::ofstream(recorder) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >>'" << setup->handlerLog.string() << "'\n";
  fs::permissions(recorder, fs::perms::owner_all);
  ConfigureDesktopHandler(setup->folder / "recording-desktop", recorder.string());
  setup->wholeRoadEnvironment.push_back("XDG_DATA_HOME=" + (setup->folder / "recording-desktop").string());
}

// The three resolver cases take turns, as the clients do above.
constexpr int kResolverMiB = 1;
constexpr int kResolverIterations = 30;
constexpr double kResolverAllowanceMs = 1.0;
struct ResolverCase {
  const char* key;
  const char* description;
};
constexpr ResolverCase kResolverCases[] = {
    {"resolver/none", "no resolver (GIO's modules hidden)"},
    {"resolver/gnome", "GNOME's resolver, no proxy"},
    {"resolver/libproxy", "libproxy's resolver (a KDE session), no proxy"},
};

void ConfigureResolverEnvironments() {
  const fs::path config = setup->folder / "gnome-config";
  fs::create_directories(config / "glib-2.0" / "settings");
  std::ofstream(config / "glib-2.0" / "settings" / "keyfile") << "[system/proxy]\nmode='none'\n";
  fs::create_directories(setup->folder / "no-modules");
  std::vector<std::string> common;
  for (const std::string& entry : setup->environment) {
    if (entry.rfind("XDG_CONFIG_HOME=", 0) != 0) common.push_back(entry);
  }
  // The harness's data folders hide the schemas, which are named apart.
  common.push_back("GSETTINGS_SCHEMA_DIR=/usr/share/glib-2.0/schemas");
  common.push_back("GSETTINGS_BACKEND=keyfile");
  common.push_back("XDG_CONFIG_HOME=" + config.string());
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
    common.push_back(std::string(name) + "=");
  }
  auto& environments = setup->resolverEnvironments;
  environments[0] = environments[1] = environments[2] = common;
  environments[0].push_back("GIO_MODULE_DIR=" + (setup->folder / "no-modules").string());
  environments[0].push_back("XDG_CURRENT_DESKTOP=GNOME");
  environments[1].push_back("XDG_CURRENT_DESKTOP=GNOME");
  environments[2].push_back("XDG_CURRENT_DESKTOP=KDE");
}

void Resolvers(benchmark::State& state) {
  const fs::path document = Document(kResolverMiB * kMiB);
  const std::vector<std::string> arguments = CommandFor(Client::Ferrowend, Scheme::Http, document).arguments;
  for (const auto& environment : setup->resolverEnvironments) {  // untimed, to start from a warm machine
    if (RunProcess(arguments, environment).status != 0) {
      state.SkipWithError("the upload failed");
      return;
    }
  }
  for (auto _ : state) {
    for (size_t i = 0; i < std::size(kResolverCases); ++i) {
      const Measure measure = RunProcess(arguments, setup->resolverEnvironments[i]);
      if (measure.status != 0) {
        state.SkipWithError("the upload failed");
        return;
      }
      setup->summaries[kResolverCases[i].key].seconds.push_back(measure.seconds);
      if (i == 1) state.SetIterationTime(measure.seconds);
    }
  }
}

void RegisterResolvers() {
  ConfigureResolverEnvironments();
  benchmark::RegisterBenchmark("BM_ProxyResolvers/http/1", Resolvers)
      ->Iterations(kResolverIterations)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void PrintResolverVerdict() {
  const auto& s = setup->summaries;
  if (!s.count(kResolverCases[0].key)) return;
  const double without = s.at(kResolverCases[0].key).MedianSeconds() * 1e3;
  std::printf("\nproxy resolver, %d MiB over http, no proxy set: %s %.1f ms\n", kResolverMiB,
              kResolverCases[0].description, without);
  for (size_t i = 1; i < std::size(kResolverCases); ++i) {
    if (!s.count(kResolverCases[i].key)) continue;
    const double with = s.at(kResolverCases[i].key).MedianSeconds() * 1e3;
    std::printf("  %s %.1f ms, %+.1f ms (target within %.0f ms: %s)\n", kResolverCases[i].description, with,
                with - without, kResolverAllowanceMs, with - without <= kResolverAllowanceMs ? "met" : "MISSED");
  }
}

// The whole road against curl alone, taking turns as the other cases do.
constexpr int kWholeRoadMiB = 1;
constexpr int kWholeRoadIterations = 30;
constexpr double kWholeRoadTarget = 1.2;
constexpr char kWholeRoadCurl[] = "road/curl";
constexpr char kWholeRoadFerrowend[] = "road/Ferrowend";

void WholeRoad(benchmark::State& state) {
  const fs::path document = Document(kWholeRoadMiB * kMiB);
  const Command curl = CommandFor(Client::Curl, Scheme::Http, document);
  const Command ferrowend = {Client::Ferrowend, CommandFor(Client::Ferrowend, Scheme::Http, document).arguments,
                             &setup->wholeRoadEnvironment};
  for (const Command* command : {&curl, &ferrowend}) {  // untimed, to start from a warm machine
    if (RunProcess(command->arguments, *command->environment).status != 0) {
      state.SkipWithError("the upload or the hand-off failed");
      return;
    }
  }
  for (auto _ : state) {
    for (const Command* command : {&curl, &ferrowend}) {
      const Measure measure = RunProcess(command->arguments, *command->environment);
      if (measure.status != 0) {
        state.SkipWithError("the upload or the hand-off failed");
        return;
      }
      Summary& summary = setup->summaries[command == &curl ? kWholeRoadCurl : kWholeRoadFerrowend];
      summary.seconds.push_back(measure.seconds);
      if (command == &ferrowend) state.SetIterationTime(measure.seconds);
    }
  }
}

void RegisterWholeRoad() {
  benchmark::RegisterBenchmark("BM_WholeRoadAndCurl/http/1", WholeRoad)
      ->Iterations(kWholeRoadIterations)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

// The handler runs on after Ferrowend has ended: its records (the untimed
// run's included) are counted once all have had the time to arrive.
void PrintWholeRoadVerdict() {
  const auto& s = setup->summaries;
  if (!s.count(kWholeRoadCurl) || !s.count(kWholeRoadFerrowend)) return;
  const Summary& ours = s.at(kWholeRoadFerrowend);
  const double ratio = ours.MedianSeconds() / s.at(kWholeRoadCurl).MedianSeconds();
  ::sleep(1);
  size_t opened = 0;
  std::ifstream log(setup->handlerLog);
  for (std::string line; std::getline(log, line);) opened += line.rfind("http://", 0) == 0 ? 1 : 0;
  std::printf("\nwhole road, %d MiB over http, upload and page hand-off to a desktop handler: Ferrowend %.1f ms, "
              "curl -T alone %.1f ms, ratio %.2fx (target at most %.2f: %s); pages handed over %zu of %zu\n",
              kWholeRoadMiB, ours.MedianSeconds() * 1e3, s.at(kWholeRoadCurl).MedianSeconds() * 1e3, ratio,
              kWholeRoadTarget, ratio <= kWholeRoadTarget ? "met" : "MISSED", opened, ours.seconds.size() + 1);
}

void PrintVerdicts() {
  const auto& s = setup->summaries;
  auto find = [&](const std::string& key) { return s.count(key) ? s.at(key) : Summary{}; };
  std::printf("\nmedian start-to-exit times; targets: time ratio at most %.2f, peak at most the document + %.0f MiB\n",
              kTimeTarget, kMemoryAllowanceMiB);
  std::printf("%-6s %8s %14s %10s %8s %14s %10s %s\n", "scheme", "document", "Ferrowend ms", "curl ms", "ratio",
              "Ferrowend MiB", "curl MiB", "verdict");
  for (const Scheme scheme : kSchemes) {
    for (const int mib : {kSizesMiB[0], kSizesMiB[1], kSizesMiB[2], kSlowLinkMiB}) {
      const Summary ours = find(Key("Ferrowend", scheme, mib));
      const Summary theirs = find(Key("curl", scheme, mib));
      if (ours.seconds.empty() || theirs.seconds.empty()) continue;
      const double ratio = ours.MedianSeconds() / theirs.MedianSeconds();
      const double memoryLimit = mib + kMemoryAllowanceMiB;
      std::printf("%-6s %4d MiB %14.1f %10.1f %7.2fx %14.1f %10.1f time %s, memory %s\n", Name(scheme), mib,
                  ours.MedianSeconds() * 1e3, theirs.MedianSeconds() * 1e3, ratio, ours.peakMiB, theirs.peakMiB,
                  ratio <= kTimeTarget ? "met" : "MISSED", ours.peakMiB <= memoryLimit ? "met" : "MISSED");
      const Summary stock = find(Key("Ferrowend+xdg-open", scheme, mib));
      if (!stock.seconds.empty()) {
        std::printf("       for information, with the stock xdg-open as the desktop handler: %.1f ms, ratio %.2fx\n",
                    stock.MedianSeconds() * 1e3, stock.MedianSeconds() / theirs.MedianSeconds());
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Setup state;
  setup = &state;
  state.folder = fs::temp_directory_path() / ("inkseal-bench-upload-" + std::to_string(getpid()));
  fs::create_directories(state.folder);
  std::string certificate, key;
  if (!inkseal::bench::MakeSelfSignedCertificate(state.folder.string(), certificate, key)) {
    std::fprintf(stderr, "openssl could not make a certificate\n");
    return 1;
  }
  state.servers[static_cast<int>(Scheme::Http)] = std::make_unique<DiscardServer>();
  state.servers[static_cast<int>(Scheme::Https)] = std::make_unique<DiscardServer>(certificate, key);
  state.servers[static_cast<int>(Scheme::SlowHttp)] =
      std::make_unique<DiscardServer>(std::string(), std::string(), kSlowLinkBytesPerSecond);
  state.certificate = certificate;
  Install(FERROWEND_PATH);
  RegisterCases();
  RegisterWholeRoad();
  RegisterResolvers();
  benchmark::RunSpecifiedBenchmarks();
  PrintVerdicts();
  PrintWholeRoadVerdict();
  PrintResolverVerdict();
  benchmark::Shutdown();
  for (auto& server : state.servers) server.reset();
  setup = nullptr;
  fs::remove_all(state.folder);
  return 0;
}
