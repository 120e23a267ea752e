#include "printer/job_record.h"

#include <cstdlib>
#include <sstream>

namespace inkseal::printer {
namespace {

constexpr const char* kStateWords[] = {"new", "unreachable", "not-sent", "uncertain", "refused"};

int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

}  // namespace

std::string FormatJobRecord(const JobRecord& record) {
  std::ostringstream text;
  text << "title=" << record.title << "\n"
       << "state=" << kStateWords[static_cast<int>(record.state)] << "\n"
       << "attempts=" << record.attempts << "\n"
       << "first-wait=" << record.firstWait << "\n"
       << "told-at=" << record.toldAt << "\n"
       << "next-try=" << record.nextTry << "\n";
  return text.str();
}

bool ParseJobRecord(const std::string& text, JobRecord& record) {
  std::istringstream lines(text);
  std::string line;
  bool titled = false;
  while (std::getline(lines, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "title") {
      record.title = value;
      titled = true;
    } else if (key == "state") {
      for (int i = 0; i < static_cast<int>(std::size(kStateWords)); ++i) {
        if (value == kStateWords[i]) record.state = static_cast<JobState>(i);
      }
    } else if (key == "attempts") {
      record.attempts = static_cast<int>(Number(value));
    } else if (key == "first-wait") {
      record.firstWait = Number(value);
    } else if (key == "told-at") {
      record.toldAt = Number(value);
    } else if (key == "next-try") {
      record.nextTry = Number(value);
    }
  }
  return titled;
}

}  // namespace inkseal::printer
