// Reads the same documents with json::Reader and with nlohmann::json, then
// prints how the times compare:
//   * 1 MiB mixed object: Reader / nlohmann (target: at most 2)
//   * flat objects of 100,000 and 200,000 members: t(200k) / t(100k)
//     (target: at most 2.2, i.e. linear growth)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <istream>
#include <malloc.h>
#include <map>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <string>
#include <vector>

#include "bench_documents.h"
#include "json/reader.h"

namespace {

constexpr std::size_t kMixedBytes = 1 << 20;

// A read-only stream over a string's bytes without copying them, so neither
// reader pays for a copy the other does not.
class ViewBuffer : public std::streambuf {
 public:
  explicit ViewBuffer(const std::string& text) {
    char* begin = const_cast<char*>(text.data());
    setg(begin, begin, begin + text.size());
  }
};

const std::string& Mixed() {
  static const std::string text = inkseal::bench::MixedDocument(kMixedBytes);
  return text;
}

const std::string& Flat(std::size_t members) {
  static std::map<std::size_t, std::string> texts;
  auto found = texts.find(members);
  if (found == texts.end()) found = texts.emplace(members, inkseal::bench::FlatObject(members)).first;
  return found->second;
}

// Hands the memory freed by the last read back to the system, untimed, so
// that every read starts as the one read of a fresh process does: whether
// the allocator happens to keep a document's worth of pages from the run
// before depends on the document's size and would distort the comparison
// between sizes.
void StartCold(benchmark::State& state) {
  state.PauseTiming();
  malloc_trim(0);
  state.ResumeTiming();
}

void ReadWithReader(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    StartCold(state);
    ViewBuffer buffer(text);
    std::istream stream(&buffer);
    json::Object object;
    json::Reader::Read(object, stream);
    benchmark::DoNotOptimize(object);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void ReadWithNlohmannFromString(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    StartCold(state);
    nlohmann::json document = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void ReadWithNlohmannFromStream(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    StartCold(state);
    ViewBuffer buffer(text);
    std::istream stream(&buffer);
    nlohmann::json document = nlohmann::json::parse(stream);
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

constexpr int kRepetitions = 7;
constexpr const char* kBestOf = "min";

// Remembers each benchmark's best CPU time per iteration over the
// repetitions for the ratio table: on a shared machine wall-clock time, and
// single runs, mostly measure the neighbours.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == kBestOf) {
        times[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

double Minimum(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

void Register(const std::string& name, void (*read)(benchmark::State&, const std::string&),
              const std::string& text) {
  benchmark::RegisterBenchmark(name.c_str(), read, text)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(kRepetitions)
      ->ComputeStatistics(kBestOf, Minimum)
      ->ReportAggregatesOnly(true);
}

void PrintRatio(const RecordingReporter& reporter, const char* label, const std::string& numerator,
                const std::string& denominator, double target) {
  const auto top = reporter.times.find(numerator);
  const auto bottom = reporter.times.find(denominator);
  if (top == reporter.times.end() || bottom == reporter.times.end()) return;
  const double ratio = top->second / bottom->second;
  std::printf("%-52s %6.2f  (target <= %.1f: %s)\n", label, ratio, target,
              ratio <= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  Register("mixed_1MiB/Reader", ReadWithReader, Mixed());
  Register("mixed_1MiB/nlohmann_string", ReadWithNlohmannFromString, Mixed());
  Register("mixed_1MiB/nlohmann_stream", ReadWithNlohmannFromStream, Mixed());
  for (const std::size_t members : {std::size_t{100000}, std::size_t{200000}}) {
    const std::string prefix = "flat_" + std::to_string(members / 1000) + "k/";
    Register(prefix + "Reader", ReadWithReader, Flat(members));
    Register(prefix + "nlohmann_string", ReadWithNlohmannFromString, Flat(members));
  }

  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\nRatios (best CPU time of %d runs):\n", kRepetitions);
  PrintRatio(reporter, "1 MiB: Reader / nlohmann (parse from string)", "mixed_1MiB/Reader",
             "mixed_1MiB/nlohmann_string", 2.0);
  PrintRatio(reporter, "1 MiB: Reader / nlohmann (parse from istream)", "mixed_1MiB/Reader",
             "mixed_1MiB/nlohmann_stream", 2.0);
  PrintRatio(reporter, "Reader growth: 200k members / 100k members", "flat_200k/Reader",
             "flat_100k/Reader", 2.2);
  PrintRatio(reporter, "nlohmann growth: 200k members / 100k members", "flat_200k/nlohmann_string",
             "flat_100k/nlohmann_string", 2.2);
  PrintRatio(reporter, "100k members: Reader / nlohmann", "flat_100k/Reader",
             "flat_100k/nlohmann_string", 2.0);
  return 0;
}
