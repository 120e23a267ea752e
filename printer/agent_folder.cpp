#include "printer/agent_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "printer/agent_link.h"

namespace inkseal::printer {

bool PrepareAgentFolder(std::string& folder, std::string& problem) {
  const uid_t uid = ::getuid();
  const char* session = std::getenv("XDG_RUNTIME_DIR");
  const bool fromSession = session != nullptr && *session != '\0';
  const std::string runtime = fromSession ? session : UserRuntimeFolder(uid);
  if (!IsPrivateFolder(runtime, uid)) {
    problem = std::string(fromSession ? "XDG_RUNTIME_DIR is " : "XDG_RUNTIME_DIR is not set and ") + runtime +
              " is missing or not a private folder of this user (a folder of its own, not a link, that nobody"
              " else may write to).  Start the agent from a desktop session (systemd-logind makes that folder at"
              " login), or set XDG_RUNTIME_DIR to such a folder.";
    return false;
  }
  folder = runtime + "/" + kAgentFolderName;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  if (!IsPrivateFolder(folder, uid) || ::chmod(folder.c_str(), 0700) != 0) {
    problem = folder + " is not a private folder of this user";
    return false;
  }
  return true;
}

}  // namespace inkseal::printer
