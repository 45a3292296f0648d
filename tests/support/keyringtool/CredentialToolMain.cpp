// orvandel-credential-tool: one step on the shared credential storage, its answer on one
// line of standard output.
//   where                                       "keyring" or "memory"
//   save server|proxy HOST PORT REALM USER PASSWORD [DOMAIN]
//   find server|proxy HOST PORT REALM           "USER PASSWORD DOMAIN" or "none"
//   remove server|proxy HOST PORT REALM         "removed"
//   fetch URL [USER PASSWORD]                   the status code, or "error CODE"
// A server's protocol is "http"; an empty REALM stands for none.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/MainQueue.h"
#include "foundation/Url.h"
#include "http/NetCredentialStorage.h"
#include "http/NetHTTPRequest.h"
#include "http/NetKeyringCredentialStorage.h"

namespace {

int usage() {
    std::fputs(
        "usage: orvandel-credential-tool where | save|find|remove server|proxy HOST PORT "
        "REALM [USER PASSWORD [DOMAIN]] | fetch URL [USER PASSWORD]\n",
        stderr);
    return 2;
}

std::optional<std::string> realmOf(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

int onStorage(const std::vector<std::string>& args) {
    if (args.size() < 5) return usage();
    const std::string& verb = args[0];
    bool proxy = args[1] == "proxy";
    const std::string& host = args[2];
    int port = std::stoi(args[3]);
    auto realm = realmOf(args[4]);
    if (verb == "save") {
        if (args.size() < 7) return usage();
        NetCredentials credentials{args[5], args[6], args.size() > 7 ? args[7] : ""};
        if (proxy) {
            NetCredentialStorage::saveCredentialsForProxy(credentials, host, port, realm);
        } else {
            NetCredentialStorage::saveCredentialsForHost(credentials, host, port, "http", realm);
        }
        std::puts("saved");
    } else if (verb == "find") {
        auto found = proxy
                         ? NetCredentialStorage::savedCredentialsForProxy(host, port, realm)
                         : NetCredentialStorage::savedCredentialsForHost(host, port, "http", realm);
        if (found) {
            std::printf("%s %s %s\n", found->username.c_str(), found->password.c_str(),
                        found->domain.c_str());
        } else {
            std::puts("none");
        }
    } else if (verb == "remove") {
        if (proxy) {
            NetCredentialStorage::removeCredentialsForProxy(host, port, realm);
        } else {
            NetCredentialStorage::removeCredentialsForHost(host, port, "http", realm);
        }
        std::puts("removed");
    } else {
        return usage();
    }
    return 0;
}

int fetch(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage();
    auto request = NetHTTPRequest::requestWithURL(foundation::Url::parse(args[1]));
    request->setUseKeychainPersistence(true);
    request->setUseSessionPersistence(false);
    if (args.size() >= 4) {
        request->setUsername(args[2]);
        request->setPassword(args[3]);
    }
    request->startSynchronous();
    if (request->error()) {
        std::printf("error %d\n", static_cast<int>(request->error()->code));
    } else {
        std::printf("%d\n", request->responseStatusCode());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    foundation::MainQueue::bindToCurrentThread();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    if (args[0] == "where") {
        auto storage =
            std::dynamic_pointer_cast<NetKeyringCredentialStorage>(NetCredentialStorage::shared());
        std::puts(storage && storage->usesKeyring() ? "keyring" : "memory");
        return 0;
    }
    if (args[0] == "fetch") return fetch(args);
    return onStorage(args);
}
