// Where the session agent keeps its socket, lock and spool.
#pragma once

#include <string>

namespace inkseal::printer {

// <runtime folder>/inkseal, created 0700 and checked to be the user's own,
// so nobody else can replace the socket.  The runtime folder is
// $XDG_RUNTIME_DIR, else the one systemd-logind makes at login
// (/run/user/<uid>), and it must be a private folder of the user's.  Never a
// folder others may write to, such as /tmp: a user who created the agent's
// folder there first could keep this user's agent from starting, and with
// it every job of theirs.  False with problem set, saying what to do.
bool PrepareAgentFolder(std::string& folder, std::string& problem);

}  // namespace inkseal::printer
