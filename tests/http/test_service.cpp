#include "tests/http/test_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif


namespace inkseal::test_service {
namespace {

std::string Environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(name + " is not set: run these tests through run_with_service.py");
  }
  return value;
}

std::string Upper(std::string text) {
  for (char& c : text) c = (c >= 'a' && c <= 'z') ? char(c - 32) : c;
  return text;
}

std::string LogPath(const std::string& tag, int n) {
  return Environment("INKSEAL_HTTP_LOG_DIR") + "/" + tag + "." + std::to_string(n);
}


}  // namespace

std::u16string ServiceAuthorities() { return Widen(Environment("INKSEAL_HTTP_CA_FILE")); }

std::string BaseUrl(const std::string& listener) { return Environment("INKSEAL_HTTP_" + Upper(listener) + "_URL"); }

std::u16string Url(const std::string& listener, const std::string& tag, const std::string& directives) {
  std::string url = BaseUrl(listener) + "/t/" + tag;
  if (!directives.empty()) url += "/" + directives;
  return Widen(url);
}

int RecordedCount(const std::string& tag) {
  int count = 0;
  while (std::ifstream(LogPath(tag, count + 1), std::ios::binary)) ++count;
  return count;
}

Recorded RecordedRequest(const std::string& tag, int n) {
  std::ifstream file(LogPath(tag, n), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  Recorded recorded;
  recorded.raw = content.str();
  const size_t headEnd = recorded.raw.find("\r\n\r\n");
  if (headEnd == std::string::npos) return recorded;
  recorded.body = recorded.raw.substr(headEnd + 4);
  const std::string head = recorded.raw.substr(0, headEnd + 2);
  size_t start = 0;
  while (start < head.size()) {
    const size_t end = head.find("\r\n", start);
    const std::string line = head.substr(start, end - start);
    if (start == 0) {
      recorded.requestLine = line;
    } else {
      recorded.headerLines.push_back(line);
    }
    start = end + 2;
  }
  return recorded;
}

std::vector<std::string> LinesOf(const std::u16string& block) {
  std::vector<std::string> lines;
  const std::string text = Narrow(block);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Narrow(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }
std::u16string Widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
#else
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
#endif
}

size_t PeakMemoryBytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters = {};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize;
#else
  rusage usage = {};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
#endif
}

}  // namespace inkseal::test_service
