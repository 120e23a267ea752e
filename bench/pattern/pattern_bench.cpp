// Runs the HTTP client's three header patterns through FindPatternGroups and
// the same searches through std::regex (ECMAScript | icase), each side
// compiling its pattern on every call, over a ~1 Ki-character reply header
// block and a ~256 Ki-character one.  Prints:
//   * std::regex time / FindPatternGroups time per block (target: >= 3)
//   * FindPatternGroups time 256 Ki / 1 Ki (target: <= 300, i.e. linear)
// Run: pattern_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <pthread.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <unordered_set>
#include <vector>

#include "header_blocks.h"
#include "http/find_pattern_groups.h"

namespace {

struct HeaderPattern {
  const char* name;
  std::u16string ours;
  std::wstring peer;  // std::regex has no char16_t traits; wchar_t is its nearest
};

// "." in our language also matches CR and LF; ECMAScript needs [\s\S].
const std::vector<HeaderPattern>& Patterns() {
  static const std::vector<HeaderPattern> patterns = {
      {"charset", u"charset={[A-Za-z0-9\\-_]+}", L"charset=([A-Za-z0-9\\-_]+)"},
      {"open_browser", u"X-Open-Browser: {[A-Za-z0-9\\-_]+.*}",
       L"X-Open-Browser: ([A-Za-z0-9\\-_]+[\\s\\S]*)"},
      {"content_length", u"Content-Length: {[0-9]+}", L"Content-Length: ([0-9]+)"},
  };
  return patterns;
}

struct Block {
  std::u16string text;
  std::wstring wide;
};

Block MakeBlock(std::u16string text) {
  return Block{text, std::wstring(text.begin(), text.end())};
}

std::vector<std::u16string> FindOurs(const HeaderPattern& pattern, const std::u16string& text) {
  std::vector<std::u16string> results;
  inkseal::FindPatternGroups(pattern.ours, false, 1, text, results, false);
  return results;
}

// The peer's equivalent of FindPatternGroups: every match from each match
// end on, first capture, distinct values ignoring case, in order.
std::vector<std::wstring> FindPeer(const HeaderPattern& pattern, const std::wstring& text) {
  const std::wregex regex(pattern.peer, std::regex::ECMAScript | std::regex::icase);
  std::vector<std::wstring> results;
  std::unordered_set<std::wstring> seen;
  for (std::wsregex_iterator it(text.begin(), text.end(), regex), end; it != end; ++it) {
    std::wstring value = (*it)[1].str();
    std::wstring key = value;
    for (wchar_t& c : key) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (seen.insert(key).second) results.push_back(std::move(value));
  }
  return results;
}

void RunOurs(benchmark::State& state, const Block* block) {
  for (auto _ : state) {
    for (const HeaderPattern& pattern : Patterns()) benchmark::DoNotOptimize(FindOurs(pattern, block->text));
  }
}

void RunPeer(benchmark::State& state, const Block* block) {
  for (auto _ : state) {
    for (const HeaderPattern& pattern : Patterns()) benchmark::DoNotOptimize(FindPeer(pattern, block->wide));
  }
}

// Both sides must find the same values, or the comparison means nothing.
bool SameFindings(const Block& block) {
  for (const HeaderPattern& pattern : Patterns()) {
    const auto ours = FindOurs(pattern, block.text);
    const auto peer = FindPeer(pattern, block.wide);
    bool same = ours.size() == peer.size();
    for (std::size_t i = 0; same && i < ours.size(); ++i) {
      same = std::wstring(ours[i].begin(), ours[i].end()) == peer[i];
    }
    std::printf("%-16s %zu chars: %zu values, %s\n", pattern.name, block.text.size(), ours.size(),
                same ? "same as std::regex" : "DIFFERENT from std::regex");
    if (!same) return false;
  }
  return true;
}

// Remembers each benchmark's CPU time per iteration for the ratio table:
// the median when --benchmark_repetitions asks for several runs.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration || median) times[run.run_name.str()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

void PrintRatio(const RecordingReporter& reporter, const char* label, const std::string& numerator,
                const std::string& denominator, const char* targetText, bool atLeast, double target) {
  const auto top = reporter.times.find(numerator);
  const auto bottom = reporter.times.find(denominator);
  if (top == reporter.times.end() || bottom == reporter.times.end()) return;
  const double ratio = top->second / bottom->second;
  const bool met = atLeast ? ratio >= target : ratio <= target;
  std::printf("%-52s %8.2f  (target %s: %s)\n", label, ratio, targetText, met ? "met" : "MISSED");
}

struct Arguments {
  int argc;
  char** argv;
  int status;
};

void* RunAll(void* raw) {
  Arguments& args = *static_cast<Arguments*>(raw);
  static const Block small = MakeBlock(inkseal::bench::ReplyHeaderBlock());
  static const Block large = MakeBlock(inkseal::bench::LargeHeaderBlock(256 * 1024));
  if (!SameFindings(small) || !SameFindings(large)) {
    args.status = 1;
    return nullptr;
  }
  benchmark::RegisterBenchmark("header_1Ki/FindPatternGroups", RunOurs, &small)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("header_1Ki/std_regex", RunPeer, &small)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("header_256Ki/FindPatternGroups", RunOurs, &large)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("header_256Ki/std_regex", RunPeer, &large)->Unit(benchmark::kMicrosecond);

  benchmark::Initialize(&args.argc, args.argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nRatios (CPU time):\n");
  PrintRatio(reporter, "1 Ki chars: std::regex / FindPatternGroups", "header_1Ki/std_regex",
             "header_1Ki/FindPatternGroups", ">= 3", true, 3.0);
  PrintRatio(reporter, "256 Ki chars: std::regex / FindPatternGroups", "header_256Ki/std_regex",
             "header_256Ki/FindPatternGroups", ">= 3", true, 3.0);
  PrintRatio(reporter, "FindPatternGroups growth: 256 Ki / 1 Ki", "header_256Ki/FindPatternGroups",
             "header_1Ki/FindPatternGroups", "<= 300", false, 300.0);
  PrintRatio(reporter, "std::regex growth: 256 Ki / 1 Ki", "header_256Ki/std_regex",
             "header_1Ki/std_regex", "<= 300", false, 300.0);
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  // libstdc++'s std::regex recurses once per character of a "[\s\S]*" run,
  // which a 256 Ki-character block would take far past the usual 8 MiB stack.
  constexpr std::size_t kPeerStack = std::size_t{1} << 30;
  Arguments args{argc, argv, 0};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kPeerStack);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, RunAll, &args) != 0) {
    std::fprintf(stderr, "cannot start the benchmark thread\n");
    return 1;
  }
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  return args.status;
}
