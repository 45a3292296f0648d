#include "PrivateKeyring.h"

#include <fmt/format.h>

#include <filesystem>
#include <fstream>

#include "support/CommandOutput.h"

namespace keyringtest {

namespace {

constexpr const char* KeyringPassword = "keyring-test-password";

bool haveCommand(const std::string& name) {
    return testsupport::commandOutput("command -v " + name + " >/dev/null 2>&1").has_value();
}

}  // namespace

std::optional<std::string> runInPrivateKeyring(const std::vector<std::string>& steps,
                                               std::string& whyNot, bool withDaemon) {
    for (const char* command : {"dbus-run-session", "gnome-keyring-daemon", "gdbus", "timeout"}) {
        if (!haveCommand(command)) {
            whyNot = fmt::format("{} is not installed", command);
            return std::nullopt;
        }
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "keyring-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        whyNot = "no scratch folder";
        return std::nullopt;
    }
    const std::string scratch = pattern;
    const std::string script = scratch + "/steps.sh";
    {
        std::ofstream out(script);
        out << "set -u\n"
            << "export HOME=\"$SCRATCH\" XDG_DATA_HOME=\"$SCRATCH/data\" "
               "XDG_CONFIG_HOME=\"$SCRATCH/config\" XDG_CACHE_HOME=\"$SCRATCH/cache\" "
               "XDG_RUNTIME_DIR=\"$SCRATCH/run\"\n"
            << "mkdir -p \"$XDG_RUNTIME_DIR\" && chmod 700 \"$XDG_RUNTIME_DIR\"\n";
        if (withDaemon) {
            // The daemon answers the unlock before it owns its name on the bus: wait for that.
            out << "printf '%s' \"$KEYRING_PASSWORD\" | gnome-keyring-daemon --unlock "
                   "--components=secrets >/dev/null 2>&1 &&\n"
                   "gdbus wait --session --timeout 30 org.freedesktop.secrets >/dev/null 2>&1\n";
        }
        for (const auto& step : steps) out << step << "\n";
        // A step that fails shows as a missing or wrong line of the answer, not as a
        // session that could not start.
        out << "exit 0\n";
    }
    auto command = fmt::format(
        "SCRATCH='{}' KEYRING_PASSWORD='{}' TOOL='{}' timeout 90 dbus-run-session -- sh '{}' "
        "2>'{}/stderr'",
        scratch, KeyringPassword, ORVANDEL_CREDENTIAL_TOOL, script, scratch);
    auto output = testsupport::commandOutput(command);
    std::error_code ignored;
    if (!output) {
        std::ifstream errors(scratch + "/stderr");
        std::string text((std::istreambuf_iterator<char>(errors)), {});
        whyNot = "the private session bus did not run: " + text;
    }
    std::filesystem::remove_all(scratch, ignored);
    return output;
}

}  // namespace keyringtest
