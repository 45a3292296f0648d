#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/NetCredentialRecord.h"

// The credentials that worked during this run of the program, for servers and proxies.
class NetSessionCredentials {
public:
    static NetSessionCredentials& shared();

    std::vector<NetCredentialRecord> sessionCredentialsStore();
    std::vector<NetCredentialRecord> sessionProxyCredentialsStore();

    // Replaces the entry holding the record's very credentials object, else appends.
    void storeAuthenticationCredentialsInSessionStore(const NetCredentialRecord& record);
    void storeProxyAuthenticationCredentialsInSessionStore(const NetCredentialRecord& record);
    // Removes the first entry holding this very credentials object.
    void removeAuthenticationCredentialsFromSessionStore(
        const std::shared_ptr<const NetCredentials>& credentials);
    void removeProxyAuthenticationCredentialsFromSessionStore(
        const std::shared_ptr<const NetCredentials>& credentials);

    // The record for a request to `url`: an exact URL match wins, else the first record
    // for the same scheme, host and port. A realm, user name and password of the request
    // narrow the choice.
    std::optional<NetCredentialRecord> findSessionAuthenticationCredentials(
        const foundation::Url& url, const std::optional<std::string>& realm,
        const std::optional<std::string>& username, const std::optional<std::string>& password);
    std::optional<NetCredentialRecord> findSessionProxyAuthenticationCredentials(
        const std::string& proxyHost, int proxyPort);

    // Forgets the server records; proxy records stay.
    void clearServerCredentials();

private:
    std::recursive_mutex lock_;  // storing calls removing
    std::vector<NetCredentialRecord> server_;
    std::vector<NetCredentialRecord> proxy_;
};
