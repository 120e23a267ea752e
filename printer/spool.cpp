#include "printer/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "printer/spool_name.h"

namespace inkseal::printer {
namespace {

constexpr char kPartialName[] = ".partial";
constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

bool Spool::Prepare() {
  if (::mkdir(folder.c_str(), kPrivateFolder) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    errno = ENOTDIR;
    return false;
  }
  return ::chmod(folder.c_str(), kPrivateFolder) == 0;
}

bool Spool::Begin(std::string& jobFolder, platform::UniqueFd& file) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  std::snprintf(name, sizeof name, "%020lld%09ld-%06lu", static_cast<long long>(now.tv_sec), now.tv_nsec,
                ++sequence % 1000000);
  jobFolder = folder + "/" + name;
  if (::mkdir(jobFolder.c_str(), kPrivateFolder) != 0) return false;
  file.reset(::open((jobFolder + "/" + kPartialName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    kPrivateFile));
  if (!file.valid()) {
    const int error = errno;
    ::rmdir(jobFolder.c_str());
    errno = error;
    return false;
  }
  return true;
}

bool Spool::Finish(const std::string& jobFolder, platform::UniqueFd file, const std::string& title,
                   std::string& path) {
  const bool synced = ::fsync(file.get()) == 0;
  int error = errno;
  const bool closed = file.Close();  // the last chance for a delayed write error
  if (synced && !closed) error = errno;
  path = jobFolder + "/" + SpoolFileName(title);
  if (!synced || !closed || ::rename((jobFolder + "/" + kPartialName).c_str(), path.c_str()) != 0) {
    if (synced && closed) error = errno;
    Discard(jobFolder);
    errno = error;
    return false;
  }
  return true;
}

void Spool::Discard(const std::string& jobFolder) {
  for (const std::string& name : Entries(jobFolder)) ::unlink((jobFolder + "/" + name).c_str());
  ::rmdir(jobFolder.c_str());
}

void Spool::Remove(const std::string& documentPath) {
  ::unlink(documentPath.c_str());
  ::rmdir(documentPath.substr(0, documentPath.rfind('/')).c_str());
}

std::vector<std::string> Spool::Leftovers() {
  std::vector<std::string> documents;
  for (const std::string& job : Entries(folder)) {
    const std::string jobFolder = folder + "/" + job;
    std::string document;
    for (const std::string& name : Entries(jobFolder)) {
      if (name != kPartialName) document = jobFolder + "/" + name;
    }
    if (document.empty()) {
      Discard(jobFolder);
    } else {
      documents.push_back(document);
    }
  }
  return documents;
}

}  // namespace inkseal::printer
