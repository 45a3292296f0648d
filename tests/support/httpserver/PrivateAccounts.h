#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The start of a command that runs a program with the system's accounts replaced by root
// and one user of the test's, whose password is known: a passwd and a shadow file written
// into the folder cover /etc/passwd and /etc/shadow inside a mount namespace of the
// program's own, so nothing else on the machine sees them and nothing in /etc changes.
// Append the program and its arguments. nullopt, with the reason in whyNot, where no such
// namespace can be made.
std::optional<std::vector<std::string>> privateAccountsCommand(const std::string& folder,
                                                               const std::string& username,
                                                               const std::string& password,
                                                               std::string& whyNot);

}  // namespace testsupport
