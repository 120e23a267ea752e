#include "printer/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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
constexpr size_t kMaxRecordBytes = 64 * 1024;
constexpr char kDocumentExtension[] = ".pdf";
constexpr char kPrintJobMark[] = "-job";
constexpr size_t kMaxPrintJobDigits = 10;

// Spool names of documents always end in ".pdf" (spool_name.h); the
// record, the uploader's word and the lock never do.
bool IsDocumentName(const std::string& name) {
  const size_t extension = sizeof kDocumentExtension - 1;
  return name.size() > extension && name[0] != '.' &&
         name.compare(name.size() - extension, extension, kDocumentExtension) == 0;
}

// The document's file name without its extension: already safe to show.
std::string DisplayTitle(const std::string& document) {
  const std::string name = document.substr(document.rfind('/') + 1);
  return name.substr(0, name.size() - (sizeof kDocumentExtension - 1));
}

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

// Writes bytes to a temporary name beside path, flushes it, renames it over
// path and flushes the folder: path is then wholly old or wholly new, on disk.
bool ReplaceFileDurably(const std::string& folder, const std::string& name, const std::string& bytes) {
  const std::string path = folder + "/" + name, temporary = path + ".new";
  platform::UniqueFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kPrivateFile));
  if (!file.valid()) return false;
  if (!platform::WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0 || !file.Close() ||
      ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
  }
  return SyncFolder(folder);
}

// "-job<id>" for a print job id of digits only, else nothing.
std::string PrintJobSuffix(const std::string& printJob) {
  if (printJob.empty() || printJob.size() > kMaxPrintJobDigits ||
      printJob.find_first_not_of("0123456789") != std::string::npos) {
    return std::string();
  }
  return kPrintJobMark + printJob;
}

}  // namespace

bool Spool::Holds(const std::string& printJob) {
  const std::string suffix = PrintJobSuffix(printJob);
  if (suffix.empty()) return false;
  for (const SpooledJob& job : Jobs()) {
    if (job.folder.size() > suffix.size() &&
        job.folder.compare(job.folder.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

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

bool Spool::Begin(const std::string& printJob, std::string& jobFolder, platform::UniqueFd& file) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char name[64];
  std::snprintf(name, sizeof name, "%020lld%09ld-%06lu", static_cast<long long>(now.tv_sec), now.tv_nsec,
                ++sequence % 1000000);
  jobFolder = folder + "/" + name + PrintJobSuffix(printJob);
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
  bool stored = synced && closed;
  if (stored && ::rename((jobFolder + "/" + kPartialName).c_str(), path.c_str()) != 0) {
    stored = false;
    error = errno;
  }
  // No record yet: a document without one is a new job (LoadRecord), and
  // the backend, which holds up the queue, waits for nothing more.
  if (stored && (!SyncFolder(jobFolder) || !SyncFolder(folder))) {
    stored = false;
    error = errno;
  }
  if (!stored) {
    Discard(jobFolder);
    errno = error;
    return false;
  }
  return true;
}

void Spool::Discard(const std::string& jobFolder) {
  for (const std::string& name : Entries(jobFolder)) ::unlink((jobFolder + "/" + name).c_str());
  ::rmdir(jobFolder.c_str());
  SyncFolder(jobFolder.substr(0, jobFolder.rfind('/')));
}

std::vector<SpooledJob> Spool::Jobs(bool dropUnfinished) {
  std::vector<SpooledJob> jobs;
  for (const std::string& job : Entries(folder)) {
    const std::string jobFolder = folder + "/" + job;
    std::string document;
    for (const std::string& name : Entries(jobFolder)) {
      if (IsDocumentName(name)) document = jobFolder + "/" + name;
    }
    if (!document.empty()) {
      jobs.push_back({jobFolder, document});
    } else if (dropUnfinished) {
      Discard(jobFolder);
    }
  }
  return jobs;
}

JobRecord Spool::LoadRecord(const SpooledJob& job) {
  JobRecord record;
  platform::UniqueFd file(::open((job.folder + "/" + kRecordName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  std::string text;
  if (!file.valid() || !platform::ReadAll(file.get(), text, kMaxRecordBytes) || !ParseJobRecord(text, record)) {
    record = JobRecord();
    record.title = DisplayTitle(job.document);
  }
  return record;
}

bool Spool::SaveRecord(const SpooledJob& job, const JobRecord& record) {
  return ReplaceFileDurably(job.folder, kRecordName, FormatJobRecord(record));
}

std::optional<Delivery> Spool::ReadWord(const SpooledJob& job) {
  platform::UniqueFd file(::open((job.folder + "/" + kDeliveryName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  std::string word;
  if (!file.valid() || !platform::ReadAll(file.get(), word, kMaxRecordBytes)) return std::nullopt;
  return ParseDeliveryRecord(word);
}

bool Spool::PrepareWord(const SpooledJob& job) {
  // Not flushed: the file matters only once the uploader has written its
  // word, and the uploader flushes it then (a new file's name with it).  A
  // file lost before that reads as "nothing sent", which it then says.  Its
  // one block is taken here, so a disk that fills later cannot refuse the
  // word.
  platform::UniqueFd file(::open((job.folder + "/" + kDeliveryName).c_str(),
                                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kPrivateFile));
  return file.valid() && platform::WriteAll(file.get(), DeliveryRecord(std::nullopt)) && file.Close();
}

void Spool::DropWord(const SpooledJob& job) {
  if (::unlink((job.folder + "/" + kDeliveryName).c_str()) == 0) SyncFolder(job.folder);
}

platform::UniqueFd Spool::TryLock(const SpooledJob& job) {
  platform::UniqueFd lock(::open((job.folder + "/" + kRunningLockName).c_str(),
                                 O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile));
  if (lock.valid() && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) lock.reset();
  return lock;
}

void Spool::ReleaseLock(const SpooledJob& job) { ::unlink((job.folder + "/" + kRunningLockName).c_str()); }

bool SyncFolder(const std::string& folder) {
  platform::UniqueFd handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle.valid() && ::fsync(handle.get()) == 0;
}

}  // namespace inkseal::printer
