// Credentials sent before a challenge, the answers to a server's (401) and a proxy's (407)
// challenge, and where credentials are looked for.

#include <fmt/format.h>

#include "foundation/Base64.h"
#include "foundation/MainQueue.h"
#include "http/NetAuthentication.h"
#include "http/NetAuthenticationChallenge.h"
#include "http/NetCredentialStorage.h"
#include "http/NetHTTPRequest.h"
#include "http/NetHeaderMatching.h"
#include "http/NetOrigin.h"
#include "http/NetRequestQueue.h"
#include "http/NetSessionCredentials.h"
#include "platform/net/NetRunLoop.h"

using foundation::Url;

namespace {

// One request at a time looks for or asks for credentials; the others then find what it
// stored in the session.
std::recursive_mutex& delegateAuthenticationLock() {
    static auto* lock = new std::recursive_mutex();
    return *lock;
}

// However the answers go, a request gives up after this many attempts.
constexpr int MaximumAuthenticationAttempts = 16;

int portOf(const Url& url) {
    return url.port() ? *url.port() : 0;
}

std::string originForm(const Url& url) {
    return (url.path().empty() ? "/" : url.path()) + (url.query() ? "?" + *url.query() : "");
}

std::shared_ptr<const NetCredentials> credentialsFrom(std::string username, std::string password,
                                                      std::string domain) {
    if (username.empty() || password.empty()) return nullptr;
    return std::make_shared<const NetCredentials>(
        NetCredentials{std::move(username), std::move(password), std::move(domain)});
}

// Credentials for an answer that names an account domain: `domain` when given; else, when
// the user name splits at "\" into exactly two parts, the first, the user name becoming the
// second ("DOMAIN\user"); else `fallback`.
std::shared_ptr<const NetCredentials> accountCredentials(std::string username, std::string password,
                                                         const std::string& domain,
                                                         const std::string& fallback) {
    if (!domain.empty()) return credentialsFrom(std::move(username), std::move(password), domain);
    auto slash = username.find('\\');
    if (slash == std::string::npos || username.find('\\', slash + 1) != std::string::npos)
        return credentialsFrom(std::move(username), std::move(password), fallback);
    std::string accountDomain = username.substr(0, slash);
    return credentialsFrom(username.substr(slash + 1), std::move(password),
                           std::move(accountDomain));
}

}  // namespace

std::string NetHTTPRequest::base64forData(const foundation::Data& data) {
    return foundation::base64::encode(data);
}

void NetHTTPRequest::addBasicAuthenticationHeaderWithUsernameAndPassword(
    const std::string& username, const std::string& password) {
    std::string pair = username + ":" + password;
    addRequestHeader("Authorization",
                     "Basic " + base64forData(foundation::Data(pair.begin(), pair.end())));
    authenticationScheme_ = "Basic";
}

void NetHTTPRequest::applyAuthorizationHeader() {
    if (!shouldPresentCredentialsBeforeChallenge_ || !url_) return;
    auto& session = NetSessionCredentials::shared();
    if (!requestHeader("Authorization")) {
        if (!username_.empty() && !password_.empty() && authenticationScheme_ == "Basic" &&
            ownCredentialsApply()) {
            addBasicAuthenticationHeaderWithUsernameAndPassword(username_, password_);
        } else if (useSessionPersistence_) {
            auto record = session.findSessionAuthenticationCredentials(
                *url_,
                authenticationRealm_.empty() ? std::nullopt : std::optional(authenticationRealm_),
                username_.empty() ? std::nullopt : std::optional(username_),
                password_.empty() ? std::nullopt : std::optional(password_));
            if (record && record->credentials && record->authentication) {
                auto header = record->authentication->authorizationHeader(
                    *record->credentials, requestMethod_, originForm(*url_));
                if (header) {
                    addRequestHeader("Authorization", *header);
                    authenticationScheme_ = record->authenticationScheme;
                } else {
                    session.removeAuthenticationCredentialsFromSessionStore(record->credentials);
                }
            } else if (record && record->credentials) {
                addBasicAuthenticationHeaderWithUsernameAndPassword(record->credentials->username,
                                                                    record->credentials->password);
            }
        }
    }
    if (useSessionPersistence_ && !proxyHost_.empty()) {
        auto record = session.findSessionProxyAuthenticationCredentials(proxyHost_, proxyPort_);
        if (record && record->credentials && record->authentication) {
            auto header = record->authentication->authorizationHeader(
                *record->credentials, requestMethod_, proxyRequestTarget());
            if (header) {
                proxyAuthorization_ = *header;
                proxyAuthorizationCredentials_ = record->credentials;
                proxyAuthenticationScheme_ = record->authenticationScheme;
            } else {
                session.removeProxyAuthenticationCredentialsFromSessionStore(record->credentials);
            }
        }
    }
}

std::string NetHTTPRequest::proxyRequestTarget() const {
    if (!url_) return "";
    if (url_->scheme() == "https") {
        return fmt::format("{}:{}", url_->host(), url_->port() ? *url_->port() : 443);
    }
    // The absolute form the stream sends to the proxy.
    return url_->scheme() + "://" + url_->host() +
           (url_->port() ? fmt::format(":{}", *url_->port()) : "") + originForm(*url_);
}

// --- Server challenges ---

void NetHTTPRequest::attemptToApplyCredentialsAndResume() {
    std::unique_lock guard(cancelledLock_);
    if (error_ || cancelled_) return;
    if (authenticationNeeded_ == 2) return attemptToApplyProxyCredentialsAndResume();
    if (authenticationRetryCount_ >= MaximumAuthenticationAttempts) return failAuthentication();

    if (requestAuthentication_) {
        requestAuthentication_->updateFromResponse(responseHeaders_, false);
    } else {
        requestAuthentication_ = NetAuthentication::createFromResponse(responseHeaders_, false);
        if (!requestAuthentication_) {
            cancelLoad();
            failWithError(
                makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                             "Failed to get authentication object from response headers"));
            return;
        }
        authenticationScheme_ = requestAuthentication_->method();
    }
    authenticationRealm_.clear();
    if (!requestAuthentication_->requiresAccountDomain())
        authenticationRealm_ = requestAuthentication_->realm().value_or("");
    auto& session = NetSessionCredentials::shared();

    if (requestAuthentication_->isValid()) {
        cancelLoad();
        if (requestCredentials_) {
            // A stale nonce, or NTLM's second round: the same credentials again. NTLM has
            // two rounds and no more in each exchange.
            bool ntlm = authenticationScheme_ == "NTLM";
            int rounds = authenticationRetryCount_ - ntlmExchangeStart_;
            if (!(ntlm && rounds > 1) && applyCredentials(requestCredentials_))
                return startRequest();
            if (ntlm && rounds == 2) return failAuthentication();
            failWithError(makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                                       "Failed to apply credentials to request"));
            return;
        }
        // Single sign-on cannot be answered here; without this the request would wait for ever.
        if (!requestAuthentication_->requiresUsernameAndPassword()) return failAuthentication();

        std::unique_lock delegateGuard(delegateAuthenticationLock());
        if (error_ || cancelled_) return;
        if (useSessionPersistence_) {
            auto record = session.findSessionAuthenticationCredentials(
                *url_,
                authenticationRealm_.empty() ? std::nullopt : std::optional(authenticationRealm_),
                username_.empty() ? std::nullopt : std::optional(username_),
                password_.empty() ? std::nullopt : std::optional(password_));
            if (record && applyCredentials(record->credentials)) {
                delegateGuard.unlock();
                return startRequest();
            }
        }
        if (auto credentials = findCredentials()) {
            bool applied = applyCredentials(credentials);
            delegateGuard.unlock();
            if (applied) return startRequest();
            failWithError(makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                                       "Failed to apply credentials to request"));
            return;
        }
        if (willAskDelegateForCredentials() || showAuthenticationDialog()) return;
        delegateGuard.unlock();
        return failAuthentication();
    }

    bool rejected = requestAuthentication_->credentialsRejected();
    requestAuthentication_.reset();
    if (rejected) {
        std::unique_lock delegateGuard(delegateAuthenticationLock());
        if (requestCredentials_) {
            session.removeAuthenticationCredentialsFromSessionStore(requestCredentials_);
            requestCredentials_.reset();
        }
        keepServerCredentials_ = nullptr;
        if (error_ || cancelled_) return;
        // Another record of the session may still be good; it answers the latest challenge.
        if (useSessionPersistence_) {
            requestAuthentication_ = NetAuthentication::createFromResponse(responseHeaders_, false);
            auto record = session.findSessionAuthenticationCredentials(
                *url_, std::nullopt, username_.empty() ? std::nullopt : std::optional(username_),
                password_.empty() ? std::nullopt : std::optional(password_));
            if (requestAuthentication_ && record && applyCredentials(record->credentials)) {
                delegateGuard.unlock();
                cancelLoad();
                return startRequest();
            }
        }
        haveActivity_ = false;
        if (willAskDelegateForCredentials() || showAuthenticationDialog()) return;
    }
    failAuthentication();
}

bool NetHTTPRequest::applyCredentials(const std::shared_ptr<const NetCredentials>& credentials) {
    ++authenticationRetryCount_;
    if (!credentials || !requestAuthentication_ || !url_) return false;
    auto& session = NetSessionCredentials::shared();
    auto header = requestAuthentication_->authorizationHeader(*credentials, requestMethod_,
                                                              originForm(*url_));
    if (!header) {
        session.removeAuthenticationCredentialsFromSessionStore(credentials);
        return false;
    }
    addRequestHeader("Authorization", *header);
    if (useKeychainPersistence_) {
        // Saved once the server takes them: a refused password never replaces a good one.
        // For the server and realm that asked, whatever the request goes on to (a redirect).
        keepServerCredentials_ = [credentials, server = *url_, realm = authenticationRealm_] {
            saveCredentialsToKeychain(*credentials, server, realm);
        };
    }
    if (useSessionPersistence_) {
        NetCredentialRecord record;
        record.authentication = requestAuthentication_;
        record.credentials = credentials;
        record.url = url_;
        record.authenticationScheme = authenticationScheme_;
        if (!authenticationRealm_.empty()) record.authenticationRealm = authenticationRealm_;
        session.storeAuthenticationCredentialsInSessionStore(record);
    }
    requestCredentials_ = credentials;
    return true;
}

void NetHTTPRequest::saveCredentialsToKeychain(const NetCredentials& credentials,
                                               const Url& server, const std::string& realm) {
    NetCredentialStorage::saveCredentialsForHost(credentials, server.host(), portOf(server),
                                                 server.scheme(),
                                                 realm.empty() ? std::nullopt : std::optional(realm));
}

void NetHTTPRequest::saveProxyCredentialsToKeychain(const NetCredentials& credentials,
                                                    const std::string& host, int port,
                                                    const std::string& realm) {
    NetCredentialStorage::saveCredentialsForProxy(
        credentials, host, port, realm.empty() ? std::nullopt : std::optional(realm));
}

bool NetHTTPRequest::ownCredentialsApply() const {
    return !url_ || !originalURL_ || NetOrigin::same(*originalURL_, *url_);
}

void NetHTTPRequest::forgetServerCredentialsApplied() {
    requestCredentials_.reset();
    keepServerCredentials_ = nullptr;
    authenticationRealm_.clear();
}

void NetHTTPRequest::forgetProxyCredentialsApplied() {
    if (proxyCredentialsChosenForURL_) {
        proxyUsername_.clear();
        proxyPassword_.clear();
        proxyCredentialsChosenForURL_ = false;
    }
    proxyCredentials_.reset();
    keepProxyCredentials_ = nullptr;
    proxyAuthorization_.clear();
    proxyAuthorizationCredentials_.reset();
    // Else an NTLM proxy's fallback to the server's account would follow to the next proxy.
    proxyAuthenticationScheme_.clear();
    proxyAuthenticationRealm_.clear();
}

void NetHTTPRequest::keepAcceptedCredentials() {
    // 407: the proxy did not let the request through, nor did it reach the server.
    if (responseStatusCode_ == 407) return;
    if (auto keep = std::exchange(keepProxyCredentials_, nullptr)) keep();
    if (responseStatusCode_ == 401) return;
    if (auto keep = std::exchange(keepServerCredentials_, nullptr)) keep();
}

namespace {

bool isNTLMMessage(std::string_view value) {
    return value.size() > 5 && NetHeaderMatching::same(value.substr(0, 5), "NTLM ");
}

}  // namespace

bool NetHTTPRequest::sendsConnectionBoundCredentials() const {
    auto header = requestHeader("Authorization");
    return (header && isNTLMMessage(*header)) || isNTLMMessage(proxyAuthorization_);
}

void NetHTTPRequest::startNewConnectionBoundExchange() {
    // An answer made for one connection's challenge is never sent on another.
    auto header = requestHeader("Authorization");
    if (header && isNTLMMessage(*header)) removeRequestHeader("Authorization");
    if (isNTLMMessage(proxyAuthorization_)) {
        proxyAuthorization_.clear();
        proxyAuthorizationCredentials_.reset();
    }
    // The attempts counted so far stay; the two rounds are counted afresh.
    ntlmExchangeStart_ = authenticationRetryCount_;
    proxyNTLMExchangeStart_ = proxyAuthenticationRetryCount_;
}

bool NetHTTPRequest::carriesConnectionBoundChallenge() const {
    const char* name = responseStatusCode_ == 401   ? "WWW-Authenticate"
                       : responseStatusCode_ == 407 ? "Proxy-Authenticate"
                                                    : nullptr;
    if (name == nullptr) return false;
    for (const auto& value : NetHeaderMatching::values(responseHeaders_, name)) {
        for (const auto& challenge : NetAuthenticationChallenge::parse(value)) {
            if (challenge.isScheme("NTLM") && !challenge.token68.empty()) return true;
        }
    }
    return false;
}

std::shared_ptr<const NetCredentials> NetHTTPRequest::findCredentials() const {
    if (!url_) return nullptr;
    bool needsDomain = requestAuthentication_ && requestAuthentication_->requiresAccountDomain();
    auto make = [&](std::string username, std::string password, const std::string& domain) {
        if (needsDomain)
            return accountCredentials(std::move(username), std::move(password), domain_, "");
        return credentialsFrom(std::move(username), std::move(password), domain);
    };
    if (url_->user() && url_->password()) {
        if (auto found = make(Url::percentDecode(*url_->user()),
                              Url::percentDecode(*url_->password()), domain_))
            return found;
    }
    if (auto main = mainRequest()) {
        if (auto found = make(main->username(), main->password(), domain_)) return found;
    }
    if (ownCredentialsApply()) {
        if (auto found = make(username_, password_, domain_)) return found;
    }
    if (useKeychainPersistence_) {
        auto saved = NetCredentialStorage::savedCredentialsForHost(
            url_->host(), portOf(*url_), url_->scheme(),
            authenticationRealm_.empty() ? std::nullopt : std::optional(authenticationRealm_));
        if (saved) return make(saved->username, saved->password, saved->domain);
    }
    return nullptr;
}

// --- Proxy challenges ---

void NetHTTPRequest::attemptToApplyProxyCredentialsAndResume() {
    std::unique_lock guard(cancelledLock_);
    if (error_ || cancelled_) return;
    if (proxyAuthenticationRetryCount_ >= MaximumAuthenticationAttempts)
        return failAuthentication();

    if (proxyAuthentication_) {
        proxyAuthentication_->updateFromResponse(responseHeaders_, true);
    } else {
        proxyAuthentication_ = NetAuthentication::createFromResponse(responseHeaders_, true);
        if (!proxyAuthentication_) {
            cancelLoad();
            failWithError(
                makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                             "Failed to get authentication object from response headers"));
            return;
        }
        proxyAuthenticationScheme_ = proxyAuthentication_->method();
    }
    proxyAuthenticationRealm_.clear();
    if (!proxyAuthentication_->requiresAccountDomain())
        proxyAuthenticationRealm_ = proxyAuthentication_->realm().value_or("");
    auto& session = NetSessionCredentials::shared();

    if (proxyAuthentication_->isValid()) {
        cancelLoad();
        if (proxyCredentials_) {
            bool ntlm = proxyAuthenticationScheme_ == "NTLM";
            int rounds = proxyAuthenticationRetryCount_ - proxyNTLMExchangeStart_;
            if (!(ntlm && rounds > 1) && applyProxyCredentials(proxyCredentials_))
                return startRequest();
            if (ntlm && rounds == 2) return failAuthentication();
            failWithError(makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                                       "Failed to apply proxy credentials to request"));
            return;
        }
        if (!proxyAuthentication_->requiresUsernameAndPassword()) return failAuthentication();

        std::unique_lock delegateGuard(delegateAuthenticationLock());
        if (error_ || cancelled_) return;
        if (useSessionPersistence_) {
            auto record = session.findSessionProxyAuthenticationCredentials(proxyHost_, proxyPort_);
            if (record && applyProxyCredentials(record->credentials)) {
                delegateGuard.unlock();
                return startRequest();
            }
        }
        if (auto credentials = findProxyCredentials()) {
            bool applied = applyProxyCredentials(credentials);
            delegateGuard.unlock();
            if (applied) return startRequest();
            failWithError(makeNetError(NetInternalErrorWhileApplyingCredentialsType,
                                       "Failed to apply proxy credentials to request"));
            return;
        }
        if (willAskDelegateForProxyCredentials() || showProxyAuthenticationDialog()) return;
        delegateGuard.unlock();
        return failAuthentication();
    }

    bool rejected = proxyAuthentication_->credentialsRejected();
    proxyAuthentication_.reset();
    if (rejected) {
        std::unique_lock delegateGuard(delegateAuthenticationLock());
        if (proxyCredentials_) {
            session.removeProxyAuthenticationCredentialsFromSessionStore(proxyCredentials_);
            proxyCredentials_.reset();
        }
        keepProxyCredentials_ = nullptr;
        proxyAuthorization_.clear();
        proxyAuthorizationCredentials_.reset();
        if (error_ || cancelled_) return;
        // Another record of the session may still be good; it answers the latest challenge.
        if (applyProxyCredentialsFromSession()) {
            delegateGuard.unlock();
            return startRequest();
        }
        haveActivity_ = false;
        if (willAskDelegateForProxyCredentials() || showProxyAuthenticationDialog()) {
            // While the listener is asked, once per request, the attempt runs once more at
            // once, still under the lock: a record another request stored meanwhile answers.
            if (!proxyAttemptRepeated_) {
                proxyAttemptRepeated_ = true;
                if (applyProxyCredentialsFromSession()) startRequest();
            }
            return;
        }
    }
    failAuthentication();
}

bool NetHTTPRequest::applyProxyCredentialsFromSession() {
    if (!useSessionPersistence_) return false;
    auto record = NetSessionCredentials::shared().findSessionProxyAuthenticationCredentials(
        proxyHost_, proxyPort_);
    if (!record) return false;
    proxyAuthentication_ = NetAuthentication::createFromResponse(responseHeaders_, true);
    if (!proxyAuthentication_) return false;
    proxyAuthenticationScheme_ = proxyAuthentication_->method();
    if (!applyProxyCredentials(record->credentials)) return false;
    cancelLoad();
    return true;
}

bool NetHTTPRequest::applyProxyCredentials(
    const std::shared_ptr<const NetCredentials>& credentials) {
    ++proxyAuthenticationRetryCount_;
    if (!credentials || !proxyAuthentication_ || !url_) return false;
    auto& session = NetSessionCredentials::shared();
    auto header = proxyAuthentication_->authorizationHeader(*credentials, requestMethod_,
                                                            proxyRequestTarget());
    if (!header) {
        session.removeProxyAuthenticationCredentialsFromSessionStore(credentials);
        return false;
    }
    proxyAuthorization_ = *header;
    proxyAuthorizationCredentials_ = credentials;
    if (useKeychainPersistence_) {
        keepProxyCredentials_ = [credentials, host = proxyHost_, port = proxyPort_,
                                 realm = proxyAuthenticationRealm_] {
            saveProxyCredentialsToKeychain(*credentials, host, port, realm);
        };
    }
    if (useSessionPersistence_) {
        NetCredentialRecord record;
        record.authentication = proxyAuthentication_;
        record.credentials = credentials;
        record.host = proxyHost_;
        record.port = proxyPort_;
        record.authenticationScheme = proxyAuthenticationScheme_;
        session.storeProxyAuthenticationCredentialsInSessionStore(record);
    }
    proxyCredentials_ = credentials;
    return true;
}

std::shared_ptr<const NetCredentials> NetHTTPRequest::findProxyCredentials() const {
    // Only an answer naming an account domain takes it out of a "DOMAIN\user" name; the
    // others send the user name as it stands.
    bool needsDomain = proxyAuthentication_ && proxyAuthentication_->requiresAccountDomain();
    auto make = [&](std::string username, std::string password) {
        if (needsDomain)
            return accountCredentials(std::move(username), std::move(password), proxyDomain_,
                                      domain_);
        return credentialsFrom(std::move(username), std::move(password),
                               !proxyDomain_.empty() ? proxyDomain_ : domain_);
    };
    if (auto main = mainRequest()) {
        if (auto found = make(main->proxyUsername(), main->proxyPassword())) return found;
    }
    if (auto found = make(proxyUsername_, proxyPassword_)) return found;
    // An NTLM proxy usually knows the same account as the server.
    if (proxyAuthenticationScheme_ == "NTLM") {
        if (auto found = make(username_, password_)) return found;
    }
    auto saved = NetCredentialStorage::savedCredentialsForProxy(
        proxyHost_, proxyPort_,
        proxyAuthenticationRealm_.empty() ? std::nullopt
                                          : std::optional(proxyAuthenticationRealm_));
    if (saved) return make(saved->username, saved->password);
    return nullptr;
}

// --- Answers of a listener ---

bool NetHTTPRequest::willAskDelegateForCredentials() {
    std::unique_lock guard(cancelledLock_);
    if (isSynchronous_) return false;
    std::shared_ptr<NetHTTPRequestDelegate> target = delegate_.lock();
    if (!target) target = queue_.lock();
    bool answers = target && target->answersAuthenticationChallenges();
    if (!answers && !blocks_.authenticationNeeded) return false;
    // The listener chosen here is the one asked, kept alive until then.
    auto block = answers ? std::function<void()>() : blocks_.authenticationNeeded;
    foundation::MainQueue::async([self = shared_from_this(), target = answers ? target : nullptr,
                                  block = std::move(block)] {
        self->askDelegateForCredentials(target, block);
    });
    return true;
}

bool NetHTTPRequest::willAskDelegateForProxyCredentials() {
    std::unique_lock guard(cancelledLock_);
    if (isSynchronous_) return false;
    std::shared_ptr<NetHTTPRequestDelegate> target = delegate_.lock();
    if (!target) target = queue_.lock();
    bool answers = target && target->answersAuthenticationChallenges();
    if (!answers && !blocks_.proxyAuthenticationNeeded) return false;
    // The listener chosen here is the one asked, kept alive until then.
    auto block = answers ? std::function<void()>() : blocks_.proxyAuthenticationNeeded;
    foundation::MainQueue::async([self = shared_from_this(), target = answers ? target : nullptr,
                                  block = std::move(block)] {
        self->askDelegateForProxyCredentials(target, block);
    });
    return true;
}

void NetHTTPRequest::askDelegateForCredentials(
    const std::shared_ptr<NetHTTPRequestDelegate>& target, const std::function<void()>& block) {
    if (target) {
        target->authenticationNeededForRequest(*this);
    } else if (block) {
        block();
    }
}

void NetHTTPRequest::askDelegateForProxyCredentials(
    const std::shared_ptr<NetHTTPRequestDelegate>& target, const std::function<void()>& block) {
    if (target) {
        target->proxyAuthenticationNeededForRequest(*this);
    } else if (block) {
        block();
    }
}

void NetHTTPRequest::retryUsingSuppliedCredentials() {
    std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
    auto retry = [weak] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard guard(self->cancelledLock_);
        if (self->error_ || self->cancelled_) return;
        if (self->authenticationNeeded_ != 0) {
            self->attemptToApplyCredentialsAndResume();
        } else {
            self->main();
        }
    };
    net::NetRunLoop* loop = runLoop_;
    if (loop == nullptr) return retry();
    loop->perform(runLoopMode_, retry);
}

void NetHTTPRequest::cancelAuthentication() {
    std::weak_ptr<NetHTTPRequest> weak = weak_from_this();
    auto fail = [weak] {
        if (auto self = weak.lock()) self->failAuthentication();
    };
    net::NetRunLoop* loop = runLoop_;
    if (loop == nullptr) return fail();
    loop->perform(runLoopMode_, fail);
}

void NetHTTPRequest::failAuthentication() {
    std::lock_guard guard(cancelledLock_);
    cancelLoad();
    failWithError(makeNetError(NetAuthenticationErrorType, "Authentication needed"));
}
