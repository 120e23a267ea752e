#include "printer/uploader_run.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "text/utf.h"

extern char** environ;

namespace inkseal::printer {
namespace {

// Where Ferrowend holds the job's lock for as long as it runs (far above
// the descriptors it opens itself).
constexpr int kInheritedLockDescriptor = 100;

void Log(const std::string& text) { std::fprintf(stderr, "inkseal-agent: %s\n", text.c_str()); }

// The agent's environment, with the hand-back's two variables set for this
// run only.
std::vector<std::string> UploaderEnvironment(const SpooledJob& job, bool quietly) {
  const std::string file = Utf16ToUtf8(kDeliveryFileVariable) + "=", quiet = Utf16ToUtf8(kQuietRetryVariable) + "=";
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, file.c_str(), file.size()) != 0 &&
        std::strncmp(*variable, quiet.c_str(), quiet.size()) != 0) {
      variables.emplace_back(*variable);
    }
  }
  variables.push_back(file + job.folder + "/" + kDeliveryName);
  if (quietly) variables.push_back(quiet + "1");
  return variables;
}

}  // namespace

std::optional<Delivery> RunUploader(const std::string& uploader, const SpooledJob& job, int lock, bool quietly) {
  char* const argv[] = {const_cast<char*>(uploader.c_str()), const_cast<char*>(job.document.c_str()), nullptr};
  std::vector<std::string> variables = UploaderEnvironment(job, quietly);
  std::vector<char*> environment;
  for (std::string& variable : variables) environment.push_back(variable.data());
  environment.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, lock, kInheritedLockDescriptor);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, uploader.c_str(), &actions, nullptr, argv, environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    Log("cannot start " + uploader + ": " + std::strerror(error) + "; " + job.document + " is kept");
    return std::nullopt;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  // Programs Ferrowend started (the browser) may hold the lock on for ever;
  // the next look takes a fresh one.
  Spool::ReleaseLock(job);
  const std::optional<Delivery> word = Spool::ReadWord(job);
  Log(std::string(kUploaderName) + " ended with " +
      std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + " for " + job.document);
  const std::string record = DeliveryRecord(word);
  Log(std::string(kUploaderName) + "'s word: " + record.substr(0, record.find(' ')));
  return word;
}

}  // namespace inkseal::printer
