#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace testsupport {

// The tests' NTLM server (ntlm_server.py beside this file) on a free 127.0.0.1 port: it
// asks for NTLM and checks the answers against the one account it knows, with its own
// computation of the responses. As a proxy it asks with 407 and "Proxy-Authenticate", and
// opens CONNECT tunnels to 127.0.0.1 once the account is proven on that connection.
// Answers that pass read "welcome DOMAIN\user" (a proxy adds the request target; a body
// sent with POST or PUT adds " METHOD body"). A `keepAlive` value goes out as the "Keep-Alive"
// header of every answer. A proven request for a path under "/redirect" is answered 307 to
// "/moved/".
class LocalNTLMServer {
public:
    enum class Role { Server, Proxy };
    // nullptr when the interpreter or its cryptography module is missing.
    static std::unique_ptr<LocalNTLMServer> start(Role role, const std::string& domain,
                                                  const std::string& user,
                                                  const std::string& password,
                                                  const std::string& keepAlive = "");
    ~LocalNTLMServer();
    LocalNTLMServer(const LocalNTLMServer&) = delete;
    LocalNTLMServer& operator=(const LocalNTLMServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path) const;

private:
    LocalNTLMServer() = default;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    int input_ = -1;  // closing it ends the server
};

}  // namespace testsupport
