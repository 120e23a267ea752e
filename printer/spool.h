// The agent's spool: one private folder per job, named so that folder names
// sort in arrival order, holding the document under its safe title.  A
// document is written to a hidden partial file first and gets its name only
// once it is complete and on disk, so a name in the spool always means a
// whole document.
#pragma once

#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"

namespace inkseal::printer {

class Spool {
 public:
  explicit Spool(std::string folder) : folder(std::move(folder)) {}

  // Creates the spool folder (0700).  False with errno set.
  bool Prepare();

  // A new job folder and its partial file, open for writing (0600).
  // False with errno set.
  bool Begin(std::string& jobFolder, platform::UniqueFd& file);
  // Flushes and closes file and gives the partial file its final name; the
  // complete document's path on success.  False with errno set (the job
  // folder is removed then).
  bool Finish(const std::string& jobFolder, platform::UniqueFd file, const std::string& title, std::string& path);
  // Removes a job folder and what it holds.
  static void Discard(const std::string& jobFolder);
  // Removes the document at path and its job folder.
  static void Remove(const std::string& documentPath);

  // Documents left complete by an agent that ended early, in arrival order;
  // unfinished ones are removed.
  std::vector<std::string> Leftovers();

 private:
  std::string folder;
  unsigned long sequence = 0;
};

}  // namespace inkseal::printer
