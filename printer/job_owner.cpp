#include "printer/job_owner.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace inkseal::printer {

bool FindAccount(const std::string& name, Account& account) {
  const passwd* entry = ::getpwnam(name.c_str());
  if (entry == nullptr) return false;
  account = Account{entry->pw_name, entry->pw_uid, entry->pw_gid};
  return true;
}

bool BecomeAccount(const Account& account, std::string& problem) {
  if (::geteuid() != 0) return true;
  // Groups first: once the user is set, the groups can no longer change.
  const auto failed = [&](const char* step) {
    problem = std::string(step) + ": " + std::strerror(errno);
    return false;
  };
  if (::initgroups(account.name.c_str(), account.gid) != 0) return failed("initgroups");
  if (::setgid(account.gid) != 0) return failed("setgid");
  if (::setuid(account.uid) != 0) return failed("setuid");
  if ((account.uid != 0 && (::setuid(0) == 0 || ::geteuid() == 0 || ::getuid() == 0)) ||
      (account.gid != 0 && (::setgid(0) == 0 || ::getegid() == 0))) {
    problem = "root could be regained after the switch";
    return false;
  }
  return true;
}

}  // namespace inkseal::printer
