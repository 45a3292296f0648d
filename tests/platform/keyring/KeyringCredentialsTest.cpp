#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PrivateKeyring.h"
#include "foundation/Base64.h"
#include "http/NetKeyringCredentialStorage.h"
#include "logging/CapturingLogger.h"
#include "platform/keyring/SecretKeyring.h"
#include "support/httpserver/TestHttpServer.h"

using keyringtest::runInPrivateKeyring;
using testsupport::ReceivedRequest;
using testsupport::ScriptedAnswer;
using testsupport::TestHttpServer;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

// Runs the steps after a first one that tells whether the keyring came up; skips the test
// where it did not.
#define RUN_OR_SKIP(answer, steps)                                                 \
    std::string whyNot;                                                            \
    auto answer = runInPrivateKeyring(steps, whyNot);                              \
    if (!answer) GTEST_SKIP() << "no private keyring: " << whyNot;                 \
    if (answer->rfind("keyring\n", 0) != 0)                                        \
        GTEST_SKIP() << "the private keyring daemon did not come up: " << *answer; \
    answer->erase(0, std::string("keyring\n").size())

// A server that lets in alice:wonder with Basic, realm "garden".
class GardenServer {
public:
    GardenServer()
        : server_([](const ReceivedRequest& request) {
              std::string pair = "alice:wonder";
              std::string expected =
                  "Basic " + foundation::base64::encode(std::span(
                                 reinterpret_cast<const std::uint8_t*>(pair.data()), pair.size()));
              if (request.header("Authorization") == expected) return ScriptedAnswer::ok("welcome");
              ScriptedAnswer answer;
              answer.raw =
                  "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"garden\"\r\n"
                  "Content-Length: 0\r\n\r\n";
              return answer;
          }) {}
    std::string url() const { return server_.url("/"); }
    std::string port() const { return std::to_string(server_.port()); }

private:
    TestHttpServer server_;
};

}  // namespace

TEST(KeyringCredentialsTest, SavedCredentialsAreFoundAgainByAnotherProcess) {
    RUN_OR_SKIP(answer, (std::vector<std::string>{
                            "\"$TOOL\" where",
                            "\"$TOOL\" save server 127.0.0.1 8080 garden alice wonder CORP",
                            "\"$TOOL\" save proxy 127.0.0.1 8080 '' carol secret",
                            "\"$TOOL\" find server 127.0.0.1 8080 garden",
                            // Realm, port and kind each name another space.
                            "\"$TOOL\" find server 127.0.0.1 8080 ''",
                            "\"$TOOL\" find server 127.0.0.1 8081 garden",
                            "\"$TOOL\" find proxy 127.0.0.1 8080 ''",
                            // One credential per space: a later save replaces the earlier.
                            "\"$TOOL\" save server 127.0.0.1 8080 garden bob 'two words'",
                            "\"$TOOL\" find server 127.0.0.1 8080 garden",
                            "\"$TOOL\" remove server 127.0.0.1 8080 garden",
                            "\"$TOOL\" find server 127.0.0.1 8080 garden",
                            "\"$TOOL\" find proxy 127.0.0.1 8080 ''",
                        }));
    EXPECT_EQ(*answer,
              joined({"saved", "saved", "alice wonder CORP", "none", "none", "carol secret ",
                      "saved", "bob two words ", "removed", "none", "carol secret "}));
}

TEST(KeyringCredentialsTest, ARequestAnswersAChallengeWithWhatAnEarlierProcessSaved) {
    GardenServer server;
    auto fetch = "\"$TOOL\" fetch '" + server.url() + "'";
    RUN_OR_SKIP(answer, (std::vector<std::string>{
                            "\"$TOOL\" where",
                            fetch + " alice wonder",
                            fetch,
                            "\"$TOOL\" remove server 127.0.0.1 " + server.port() + " garden",
                            fetch,
                        }));
    // Code 3: a challenge with no credentials to answer it.
    EXPECT_EQ(*answer, joined({"200", "200", "removed", "error 3"}));
}

TEST(KeyringCredentialsTest, ABusWithoutASecretServiceIsNoKeyringAndStartsNone) {
    std::string whyNot;
    auto answer = runInPrivateKeyring(
        {"\"$TOOL\" where", "\"$TOOL\" save server h 1 '' u p", "\"$TOOL\" find server h 1 ''"},
        whyNot, false);
    if (!answer) GTEST_SKIP() << "no private session bus: " << whyNot;
    // The service could be started on demand, but is not: the credentials stay in memory
    // and leave with each process.
    EXPECT_EQ(*answer, joined({"memory", "saved", "none"}));
}

TEST(KeyringCredentialsTest, WithoutAKeyringCredentialsStayInMemoryWithAWarning) {
    auto logger = std::make_shared<CapturingLogger>();
    auto savedLevel = lgLogLevel.load();
    lgLogLevel.store(~std::uint64_t(0));
    LgLog::sharedInstance().addLogger(logger);

    int looks = 0;
    NetKeyringCredentialStorage storage([&](std::string& whyNot) {
        ++looks;
        whyNot = "no Secret Service in this test";
        return std::unique_ptr<keyring::SecretKeyring>();
    });
    NetProtectionSpace space{"example.org", 443, "https", "realm", false};
    NetProtectionSpace proxy{"example.org", 443, "", "realm", true};
    EXPECT_FALSE(storage.defaultCredential(space));
    storage.setDefaultCredential({"alice", "wonder", "CORP"}, space);
    auto found = storage.defaultCredential(space);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->password, "wonder");
    EXPECT_EQ(found->domain, "CORP");
    EXPECT_FALSE(storage.defaultCredential(proxy));
    storage.removeDefaultCredential(space);
    EXPECT_FALSE(storage.defaultCredential(space));
    EXPECT_FALSE(storage.usesKeyring());
    EXPECT_EQ(looks, 1);  // looked for once, warned once

    LgLog::sharedInstance().flushLog();
    int warnings = 0;
    for (const auto& text : logger->texts()) {
        if (text.find("kept in memory only") != std::string::npos &&
            text.find("no Secret Service in this test") != std::string::npos)
            ++warnings;
    }
    EXPECT_EQ(warnings, 1);
    LgLog::sharedInstance().removeAllLoggers();
    lgLogLevel.store(savedLevel);
}

TEST(KeyringCredentialsTest, NoSessionBusMeansNoKeyring) {
    // Neither an address nor a bus socket in the runtime folder: nothing is launched.
    auto empty = std::filesystem::temp_directory_path() / "keyring-no-bus";
    std::filesystem::create_directories(empty);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::setenv("XDG_RUNTIME_DIR", empty.c_str(), 1);
    std::string whyNot;
    EXPECT_FALSE(keyring::SecretKeyring::connect("org.orvandel.Test", {"a"}, whyNot));
    EXPECT_EQ(whyNot, "there is no session bus");
    std::filesystem::remove_all(empty);
}
