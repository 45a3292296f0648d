#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "EventHandlerHarness.h"
#include "foundation/PropertyList.h"
#include "foundation/ScratchFolder.h"
#include "shell/events/SystemEventHandler.h"

using foundation::Value;
using foundationtest::ScratchFolder;

namespace {

TEST(SystemEventHandler, CommandTableAndErrorTexts) {
    std::vector<std::string> opened;
    ScratchFolder folder;
    SystemEventHandler::Environment environment;
    environment.iconsInfoPath = folder / "MobileDevices.plist";
    environment.openURL = [&](const std::string& url) {
        opened.push_back(url);
        return url != "https://unreachable.invalid/";
    };
    SystemEventHandler handler(environment);
    const Value noData = Value::dict({{"result", false}, {"error", "no request data provided"}});
    const Value empty = foundation::Dictionary{};
    const struct {
        const char* cmd;
        Value data;
        Value reply;
    } cases[] = {
        {"get-sysinfo", Value(), noData},
        {"openurl", "https://example.org/", noData},
        {"openurl", empty, Value::dict({{"result", false}, {"error", "Invalid URL"}})},
        {"openurl", Value::dict({{"url", ""}}),
         Value::dict({{"result", false}, {"error", "Invalid URL"}})},
        {"openurl", Value::dict({{"url", "https://example.org/"}}), Value::dict({{"result", true}})},
        {"openurl", Value::dict({{"url", "https://unreachable.invalid/"}}),
         Value::dict({{"result", false}})},
        {"openurl", Value::dict({{"url", "javascript:alert(1)"}}),
         Value::dict({{"result", false}, {"error", "URL not allowed"}})},
        {"icons-info", empty, Value::dict({{"result", false}})},
        {"OpenURL", empty, Value::dict({{"result", false}, {"error", "Unhandled command: OpenURL"}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmd);
        EXPECT_EQ(askHandler(handler, c.cmd, c.data), c.reply);
    }
    // A command that is absent or not text is named as the platform prints it.
    EXPECT_EQ(askRequest(handler, Value::dict({{"data", empty}})),
              Value::dict({{"result", false}, {"error", "Unhandled command: (null)"}}));
    EXPECT_EQ(askRequest(handler, Value::dict({{"cmd", 5}, {"data", empty}})),
              Value::dict({{"result", false}, {"error", "Unhandled command: 5"}}));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/",
                                                "https://unreachable.invalid/"}));

    // The information file answers its type declarations once it holds a list of them.
    writeFile(folder / "MobileDevices.plist",
          *foundation::plist::writeXml(Value::dict({{"UTExportedTypeDeclarations", "none"}})));
    EXPECT_EQ(askHandler(handler, "icons-info", empty), Value::dict({{"result", false}}));
    const Value types = Value::list({Value::dict({{"UTTypeIdentifier", "com.example.phone"}})});
    writeFile(folder / "MobileDevices.plist",
          *foundation::plist::writeXml(Value::dict({{"UTExportedTypeDeclarations", types}})));
    EXPECT_EQ(askHandler(handler, "icons-info", empty),
              Value::dict({{"result", true}, {"data", types}}));
}

TEST(SystemEventHandler, DescribesTheComputerFromItsFiles) {
    ScratchFolder proc, sys;
    writeFile(proc / "sys/kernel/osrelease", "6.1.0-13-amd64\n");
    writeFile(proc / "cpuinfo",
          "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Example CPU @ 2.40GHz\n\n"
          "processor\t: 1\nmodel name\t: Example CPU @ 2.40GHz\n");
    writeFile(proc / "meminfo", "MemTotal:       16303488 kB\nMemFree:         1234 kB\n");
    writeFile(sys / "class/dmi/id/product_serial", "SN-12345\n");
    SystemEventHandler::Environment environment;
    environment.procRoot = proc.path();
    environment.sysRoot = sys.path();
    SystemEventHandler handler(environment);
    EXPECT_EQ(askHandler(handler, "get-sysinfo", foundation::Dictionary{}),
              Value::dict({{"result", true},
                           {"data", Value::dict({{"osversion", Value::dict({{"major", 6},
                                                                            {"minor", 1},
                                                                            {"patch", 0}})},
                                                 {"serial", "SN-12345"},
                                                 {"cpu", "Example CPU @ 2.40GHz"},
                                                 {"ram", std::uint64_t(16303488) * 1024}})}}));

    // What cannot be read: zeros, no serial, no processor text; a table without a model
    // name: "Unknown".
    ScratchFolder bare;
    EXPECT_EQ(SystemEventHandler::osversion(bare.path()),
              Value::dict({{"major", 0}, {"minor", 0}, {"patch", 0}}));
    EXPECT_EQ(SystemEventHandler::sysID(bare.path()), "");
    EXPECT_EQ(SystemEventHandler::sysCPU(bare.path()), "");
    EXPECT_EQ(SystemEventHandler::sysMemCapacity(bare.path()), 0u);
    writeFile(bare / "cpuinfo", "processor\t: 0\nmodel name\t:\n");
    writeFile(bare / "sys/kernel/osrelease", "5.10\n");
    EXPECT_EQ(SystemEventHandler::sysCPU(bare.path()), "Unknown");
    EXPECT_EQ(SystemEventHandler::osversion(bare.path()),
              Value::dict({{"major", 5}, {"minor", 10}, {"patch", 0}}));
}

TEST(SystemEventHandler, OpensOnlyAddressesAndFilesThatStartNoProgram) {
    ScratchFolder folder;
    writeFile(folder / "notes.txt", "plain text\n");
    writeFile(folder / "run.sh", "#!/bin/sh\necho hi\n");
    writeFile(folder / "tool", "#!/bin/sh\necho hi\n");
    chmod((folder / "tool").c_str(), 0755);
    writeFile(folder / "app.desktop", "[Desktop Entry]\nType=Application\nExec=xterm\n");
    writeFile(folder / "entry.txt.desktop", "not really one\n");
    const struct {
        std::string url;
        bool allowed;
    } cases[] = {
        {"http://example.org/", true},
        {"HTTPS://example.org/a?b=c", true},
        {"mailto:someone@example.org", true},
        {"javascript:alert(1)", false},
        {"file://" + folder.path(), true},
        {"file://" + folder / "notes.txt", true},
        {"file://" + folder / "missing.txt", true},  // opening it fails on its own
        {"file://" + folder / "run.sh", false},
        {"file://" + folder / "tool", false},
        {"file://" + folder / "app.desktop", false},
        {"file://" + folder / "entry.txt.desktop", false},
        {"file://otherhost" + folder / "notes.txt", false},
        {"file:///bin/sh", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SystemEventHandler::urlMayBeOpened(c.url), c.allowed) << c.url;
}

}  // namespace
