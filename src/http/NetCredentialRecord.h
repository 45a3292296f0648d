#pragma once

#include <memory>
#include <optional>
#include <string>

#include "foundation/Url.h"

class NetAuthentication;

// A user name and password that worked; records refer to it by identity.
struct NetCredentials {
    std::string username;
    std::string password;
    std::string domain;
};

// An entry of a session credential store. Server records carry the URL and realm, proxy
// records the proxy's host and port.
struct NetCredentialRecord {
    std::shared_ptr<const NetCredentials> credentials;
    std::string authenticationScheme;
    std::optional<foundation::Url> url;
    std::optional<std::string> authenticationRealm;
    std::string host;
    int port = 0;
    // The answer the credentials were applied with; none for Basic sent before a challenge.
    std::shared_ptr<NetAuthentication> authentication;
};
