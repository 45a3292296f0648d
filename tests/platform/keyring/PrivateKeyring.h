#pragma once

#include <optional>
#include <string>
#include <vector>

namespace keyringtest {

// A private session bus with a fresh keyring daemon, its keyring unlocked with a known
// password and kept in a scratch folder (HOME, XDG_DATA_HOME, XDG_RUNTIME_DIR point there).
// The steps are shell commands run one after the other inside that session, each its own
// process; TOOL names the credential tool. Their standard output is the answer, nullopt with
// the reason in `whyNot` when the session cannot start. With `withDaemon` false the bus runs
// without a keyring daemon.
std::optional<std::string> runInPrivateKeyring(const std::vector<std::string>& steps,
                                               std::string& whyNot, bool withDaemon = true);

}  // namespace keyringtest
