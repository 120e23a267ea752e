// The CUPS backend "inkseal": hands each job to the desktop session agent of
// the job's user.  Run as root (installed 0700) so that it can reach the
// agent's socket inside that user's private runtime folder.
//
// The job is complete once the agent has stored the document; the upload's
// own outcome is shown by Ferrowend in the user's session.  A user without a
// running agent gets the job held, not lost: the agent releases it when it
// starts.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/agent_link.h"

namespace inkseal::printer {
namespace {

// CUPS' backend exit codes (backend(7)).
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;
constexpr int kBackendHold = 3;

constexpr char kDeviceLine[] = "direct inkseal:/ \"Inkseal\" \"Inkseal signature service\"\n";

using Descriptor = platform::UniqueFd;

void Report(const char* kind, const std::string& text) { std::fprintf(stderr, "%s: %s\n", kind, text.c_str()); }

// A socket is trusted only inside a private folder of the user, and only
// when it belongs to the user as well: nobody else can have put it there.
int ConnectToAgent(uid_t uid) {
  const char* root = std::getenv(kRuntimeRootVariable);
  const std::string runtime_root = root && *root ? root : kDefaultRuntimeRoot;
  for (const std::string& folder : {RuntimeAgentFolder(runtime_root, uid), FallbackAgentFolder(uid)}) {
    if (!IsPrivateFolder(folder, uid)) continue;
    const std::string path = folder + "/" + kSocketName;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != uid) continue;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) continue;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
  }
  return -1;
}

enum class Outcome { kStored, kRefused, kLost };

// Sends the header and the document; reply holds the agent's refusal.
Outcome SendJob(int agent, int document, const std::string& user, const std::string& job, const std::string& title,
                std::string& reply, std::string& problem) {
  if (!WriteFrame(agent, user.data(), user.size()) || !WriteFrame(agent, job.data(), job.size()) ||
      !WriteFrame(agent, title.data(), title.size())) {
    return Outcome::kLost;
  }
  std::vector<char> buffer(kMaxFrame);
  for (;;) {
    const ssize_t got = ::read(document, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = std::string("Inkseal: could not read the document: ") + std::strerror(errno);
      return Outcome::kRefused;  // the agent drops the unfinished document
    }
    if (got == 0) break;
    if (!WriteFrame(agent, buffer.data(), static_cast<size_t>(got))) return Outcome::kLost;
  }
  if (!WriteFrame(agent, nullptr, 0)) return Outcome::kLost;
  if (!ReadLine(agent, reply, kMaxHeaderFrame)) return Outcome::kLost;
  return reply == kReplyOk ? Outcome::kStored : Outcome::kRefused;
}

int Run(int argc, char** argv) {
  if (argc == 1) {
    std::fputs(kDeviceLine, stdout);
    return kBackendOk;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return kBackendFailed;
  }
  const std::string job = argv[1], user = argv[2], title = argv[3];
  Descriptor file(argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : -1);
  if (argc == 7 && file.get() < 0) {
    Report("ERROR", "Inkseal: could not open the document: " + std::string(std::strerror(errno)));
    return kBackendFailed;
  }
  const int document = argc == 7 ? file.get() : STDIN_FILENO;

  const passwd* account = ::getpwnam(user.c_str());
  if (account == nullptr) {
    Report("ERROR", "Inkseal: there is no user " + user + " on this system");
    return kBackendFailed;
  }
  const std::string held = "Inkseal: no desktop session for " + user + "; the job is held until you log in";
  std::fputs("STATE: +connecting-to-device\n", stderr);
  Descriptor agent(ConnectToAgent(account->pw_uid));
  std::fputs("STATE: -connecting-to-device\n", stderr);
  // WARNING: the scheduler logs it at its default level, where the user is
  // sent for the reason a job was held.
  if (agent.get() < 0) {
    Report("WARNING", held);
    return kBackendHold;
  }
  Report("INFO", "Inkseal: handing the document to " + user + "'s desktop session");
  std::string reply, problem;
  switch (SendJob(agent.get(), document, user, job, title, reply, problem)) {
    case Outcome::kStored:
      Report("INFO", "Inkseal: the document is with " + user + "'s desktop session");
      return kBackendOk;
    case Outcome::kRefused:
      if (problem.empty()) problem = "Inkseal: the desktop session could not take the document: " +
                                     reply.substr(std::min(reply.size(), sizeof kReplyError - 1));
      Report("ERROR", problem);
      return kBackendFailed;
    case Outcome::kLost:
      break;
  }
  // The agent went away before it had stored the document: as if it had
  // not been running, so the next agent of the user gets the job.
  Report("WARNING", held);
  return kBackendHold;
}

}  // namespace
}  // namespace inkseal::printer

int main(int argc, char** argv) {
  // A vanished agent must show as a failed write, not end the backend.
  ::signal(SIGPIPE, SIG_IGN);
  return inkseal::printer::Run(argc, argv);
}
