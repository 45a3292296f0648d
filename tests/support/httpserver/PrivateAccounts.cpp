#include "support/httpserver/PrivateAccounts.h"

#include <crypt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "support/httpserver/LocalPorts.h"

namespace testsupport {

namespace {

// Run inside the new namespace with: the test's own mount namespace, the folder, the
// command. It refuses to mount anything when the namespace is still the test's, where the
// bind mounts would cover the machine's files for everyone.
constexpr const char* CoverAccounts = R"SH(set -e
if [ "$(readlink /proc/self/ns/mnt)" = "$1" ]; then
  echo "still in the test's own mount namespace" >&2
  exit 1
fi
mount --bind "$2/passwd" /etc/passwd
mount --bind "$2/shadow" /etc/shadow
# A name service cache would answer from the machine's accounts.
if [ -d /run/nscd ]; then mount --bind "$2/empty" /run/nscd; fi
shift 2
exec "$@"
)SH";

// SHA-512 crypt(3), as a system's shadow file holds it; empty when crypt fails.
std::string hashed(const std::string& password) {
    auto data = std::make_unique<crypt_data>();
    const char* hash = ::crypt_r(password.c_str(), "$6$orvandeltest$", data.get());
    if (hash == nullptr || hash[0] != '$') return {};
    return hash;
}

}  // namespace

std::optional<std::vector<std::string>> privateAccountsCommand(const std::string& folder,
                                                               const std::string& username,
                                                               const std::string& password,
                                                               std::string& whyNot) {
    const std::string unshare = findProgram("unshare");
    const std::string shell = findProgram("sh");
    const std::string mount = findProgram("mount");
    if (unshare.empty() || shell.empty() || mount.empty()) {
        whyNot = "unshare, sh or mount is not installed";
        return std::nullopt;
    }
    char ownNamespace[128] = {};
    if (::readlink("/proc/self/ns/mnt", ownNamespace, sizeof ownNamespace - 1) <= 0) {
        whyNot = "the test's mount namespace cannot be read from /proc";
        return std::nullopt;
    }
    const std::string hash = hashed(password);
    if (hash.empty()) {
        whyNot = "crypt(3) cannot hash a SHA-512 password here";
        return std::nullopt;
    }
    std::ofstream(folder + "/passwd") << "root:x:0:0:root:/root:/bin/sh\n"
                                      << username << ":x:4747:4747::/nonexistent:/bin/false\n";
    std::ofstream(folder + "/shadow") << "root:*:20000:0:99999:7:::\n"
                                      << username << ":" << hash << ":20000:0:99999:7:::\n";
    ::chmod((folder + "/shadow").c_str(), 0600);
    ::mkdir((folder + "/empty").c_str(), 0755);
    std::ofstream(folder + "/cover-accounts.sh") << CoverAccounts;

    // Root may make the namespace directly; anyone else makes it inside a user namespace
    // where they are root.
    std::vector<std::string> command{unshare};
    if (::geteuid() != 0) {
        command.push_back("--user");
        command.push_back("--map-root-user");
    }
    for (const char* arg : {"--mount", "--propagation", "private"}) command.push_back(arg);
    for (const std::string& arg :
         {shell, folder + "/cover-accounts.sh", std::string(ownNamespace), folder})
        command.push_back(arg);
    return command;
}

}  // namespace testsupport
