#pragma once

#include <mutex>
#include <optional>
#include <vector>

#include "http/NetCookie.h"

class NetCookieJar;

// The cookies received during this run of the program.
class NetSessionCookies {
public:
    explicit NetSessionCookies(NetCookieJar& jar);
    static NetSessionCookies& shared();

    std::vector<NetCookie> sessionCookies();
    // Deletes every listed cookie from the shared storage, then keeps the new list.
    void setSessionCookies(std::optional<std::vector<NetCookie>> cookies);
    // Replaces a listed cookie of the same domain, path and name, else appends.
    void addSessionCookie(const NetCookie& cookie);

private:
    NetCookieJar& jar_;
    std::recursive_mutex lock_;
    std::vector<NetCookie> cookies_;
};
