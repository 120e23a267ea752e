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
  if (::mkdir(folder_.c_str(), kPrivateFolder) != 0 && errno != EEXIST) return false;
  struct stat info {};
  if (::lstat(folder_.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) || info.st_uid != ::getuid()) {
    errno = ENOTDIR;
    return false;
  }
  return ::chmod(folder_.c_str(), kPrivateFolder) == 0;
}

bool Spool::Begin(std::string& job_folder, int& fd) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  std::snprintf(name, sizeof name, "%020lld%09ld-%06lu", static_cast<long long>(now.tv_sec), now.tv_nsec,
                ++sequence_ % 1000000);
  job_folder = folder_ + "/" + name;
  if (::mkdir(job_folder.c_str(), kPrivateFolder) != 0) return false;
  fd = ::open((job_folder + "/" + kPartialName).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
              kPrivateFile);
  if (fd < 0) {
    const int error = errno;
    ::rmdir(job_folder.c_str());
    errno = error;
    return false;
  }
  return true;
}

bool Spool::Finish(const std::string& job_folder, int fd, const std::string& title, std::string& path) {
  const bool written = ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) error = errno;
  path = job_folder + "/" + SpoolFileName(title);
  if (!written || ::rename((job_folder + "/" + kPartialName).c_str(), path.c_str()) != 0) {
    if (written) error = errno;
    Discard(job_folder);
    errno = error;
    return false;
  }
  return true;
}

void Spool::Discard(const std::string& job_folder) {
  for (const std::string& name : Entries(job_folder)) ::unlink((job_folder + "/" + name).c_str());
  ::rmdir(job_folder.c_str());
}

void Spool::Remove(const std::string& document_path) {
  ::unlink(document_path.c_str());
  ::rmdir(document_path.substr(0, document_path.rfind('/')).c_str());
}

std::vector<std::string> Spool::Leftovers() {
  std::vector<std::string> documents;
  for (const std::string& job : Entries(folder_)) {
    const std::string job_folder = folder_ + "/" + job;
    std::string document;
    for (const std::string& name : Entries(job_folder)) {
      if (name != kPartialName) document = job_folder + "/" + name;
    }
    if (document.empty()) {
      Discard(job_folder);
    } else {
      documents.push_back(document);
    }
  }
  return documents;
}

}  // namespace inkseal::printer
