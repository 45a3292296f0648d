#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "http/NetCookie.h"

class NetCookieJar;

// The cookies received during this run of the program. The list keeps the newest
// NetCookieJar::MaximumCookies of them; the jar marks every one it holds, so that forgetting
// the session deletes them all, also those the list has let go.
class NetSessionCookies {
public:
    explicit NetSessionCookies(NetCookieJar& jar);
    static NetSessionCookies& shared();

    std::vector<NetCookie> sessionCookies();
    // Deletes every cookie received in the session from the shared storage, then keeps the
    // new list.
    void setSessionCookies(std::optional<std::vector<NetCookie>> cookies);
    // Replaces a listed cookie of the same domain, path and name, else appends.
    void addSessionCookie(const NetCookie& cookie);

private:
    // Lists the cookie last, in place of one of the same identity (lock held).
    void append(const NetCookie& cookie);

    NetCookieJar& jar_;
    std::recursive_mutex lock_;
    std::uint64_t nextOrder_ = 0;
    // The list, by the order added, and where each identity stands in it.
    std::map<std::uint64_t, NetCookie> cookies_;
    std::map<NetCookieIdentity, std::uint64_t> byIdentity_;
};
