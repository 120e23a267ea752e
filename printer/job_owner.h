// The backend acts for the job's owner: CUPS starts it as root only so that
// it can become that user before it goes near any path the user controls.
#pragma once

#include <sys/types.h>

#include <string>

namespace inkseal::printer {

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
};

// The account of user name; false when there is none.
bool FindAccount(const std::string& name, Account& account);

// Started as root: becomes account for good (its supplementary groups, its
// group, then its user) and checks that root cannot be regained.  Started as
// anyone else: stays as it is, since only root can switch.  False with
// problem set when the switch failed.
bool BecomeAccount(const Account& account, std::string& problem);

}  // namespace inkseal::printer
