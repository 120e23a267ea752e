#include "printer/state_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "printer/agent_link.h"

namespace inkseal::printer {
namespace {

constexpr mode_t kPrivateFolder = 0700;

std::string StateHome() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return state;
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? home : "";
  if (base.empty()) {
    const passwd* account = ::getpwuid(::getuid());
    if (account != nullptr && account->pw_dir != nullptr && account->pw_dir[0] == '/') base = account->pw_dir;
  }
  return base.empty() ? std::string() : base + "/.local/state";
}

// Creates every missing level of path; levels that exist stay as they are.
bool CreateLevels(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string level = path.substr(0, slash);
    if (::mkdir(level.c_str(), kPrivateFolder) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

bool PrepareStateFolder(std::string& folder, std::string& problem) {
  const std::string home = StateHome();
  if (home.empty()) {
    problem = "neither XDG_STATE_HOME nor HOME names an absolute folder to keep documents in";
    return false;
  }
  folder = home + "/" + kAgentFolderName;
  if (!CreateLevels(folder)) {
    problem = "cannot create " + folder + ": " + std::strerror(errno);
    return false;
  }
  if (!IsPrivateFolder(folder, ::getuid()) || ::chmod(folder.c_str(), kPrivateFolder) != 0) {
    problem = folder + " is not a private folder of this user (a folder of its own, not a link, that nobody"
              " else may write to)";
    return false;
  }
  return true;
}

}  // namespace inkseal::printer
