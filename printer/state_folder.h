// Where the agent keeps documents until the service has them: the user's
// persistent state folder, on disk, which outlives the session (the runtime
// folder, a tmpfs that logind empties at logout, keeps only the socket and
// the lock).
#pragma once

#include <string>

namespace inkseal::printer {

// $XDG_STATE_HOME/inkseal, else ~/.local/state/inkseal (an XDG_STATE_HOME
// that is not an absolute path is ignored, as the XDG rules say).  Missing
// levels are created 0700; the last one must be a private folder of the
// user's (not a link, nobody else may write to it) and is made 0700.  False
// with problem set, saying what is wrong.
bool PrepareStateFolder(std::string& folder, std::string& problem);

}  // namespace inkseal::printer
