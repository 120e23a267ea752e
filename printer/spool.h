// The agent's spool: one private folder per job, named so that folder names
// sort in arrival order, holding the document under its safe title and the
// job's record beside it.  A document is written to a hidden partial file
// first and gets its name only once it is complete and on disk, so a name in
// the spool always means a whole document.  Every name the spool gives is
// on disk (the folder flushed) before the call returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/job_record.h"
#include "uploader/delivery_outcome.h"

namespace inkseal::printer {

// What one job folder holds, by name.
constexpr char kRecordName[] = "job";
constexpr char kDeliveryName[] = "delivery";  // the uploader's word (uploader/delivery_outcome.h)
constexpr char kRunningLockName[] = ".running";

struct SpooledJob {
  std::string folder;    // the job folder's full path
  std::string document;  // the document's full path
};

class Spool {
 public:
  explicit Spool(std::string folder) : folder(std::move(folder)) {}

  // Creates the spool folder (0700).  False with errno set.
  bool Prepare();

  // A new job folder for print job printJob (the scheduler's job id) and
  // its partial file, open for writing (0600).  False with errno set.
  bool Begin(const std::string& printJob, std::string& jobFolder, platform::UniqueFd& file);
  // Whether a complete document of print job printJob is in the spool: an
  // agent stopped after storing it but before answering, so the scheduler
  // held the job and now hands it over again.
  bool Holds(const std::string& printJob);
  // Flushes and closes file and gives the partial file its final name; the
  // complete document's path on success.  False with errno set (the job
  // folder is removed then).
  bool Finish(const std::string& jobFolder, platform::UniqueFd file, const std::string& title, std::string& path);
  // Removes a job folder and what it holds.
  static void Discard(const std::string& jobFolder);

  // Every complete job, in arrival order.  dropUnfinished: also removes job
  // folders without a complete document (only when nothing is being
  // received, that is as the agent starts).
  std::vector<SpooledJob> Jobs(bool dropUnfinished = false);

  // The job's record; one that is missing or unreadable is a new job named
  // after its document.
  static JobRecord LoadRecord(const SpooledJob& job);
  // False with errno set; the old record stays then.
  static bool SaveRecord(const SpooledJob& job, const JobRecord& record);

  // Makes the file the uploader writes its word into (uploader/
  // delivery_outcome.h), holding "nothing sent".  False with errno set: the
  // uploader must not run then, for its word could be lost.
  static bool PrepareWord(const SpooledJob& job);
  // The uploader's word on the job's last run; none when it wrote none.
  static std::optional<Delivery> ReadWord(const SpooledJob& job);
  // Removes the word once the record holds what it said.
  static void DropWord(const SpooledJob& job);
  // The job's lock, held for as long as an uploader runs it, by that
  // uploader too (it inherits the descriptor): an agent that starts while
  // the uploader of one that was killed still runs leaves the job alone.
  // Invalid when someone holds it already (or it cannot be taken).
  static platform::UniqueFd TryLock(const SpooledJob& job);
  // Once the uploader has ended: whoever else still holds the lock it
  // inherited no longer holds the job's.
  static void ReleaseLock(const SpooledJob& job);

 private:
  std::string folder;
  unsigned long sequence = 0;
};

// Flushes a folder, so that the names in it are on disk.
bool SyncFolder(const std::string& folder);

}  // namespace inkseal::printer
