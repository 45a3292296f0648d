// Waiting for a device to come or go, and opening an application's container.
#include <glib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "SimServiceFixture.h"
#include "support/MainLoop.h"

namespace {

using devicetest::RecordingListener;
using foundation::Value;

class SimConnectionWait : public devicetest::SimulatorTest {};

// Runs `step` from the main loop that waitForConnection runs.
void onceTheLoopRuns(std::function<void()> step) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(step)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

TEST_F(SimConnectionWait, WaitingEndsOnAnAttachOrADetach) {
    auto listener = std::make_shared<RecordingListener>();
    ASSERT_TRUE(hub->setListener(listener));
    ASSERT_TRUE(testsupport::runMainLoopUntil([&] { return server->listenerCount() == 1; }));

    std::shared_ptr<simdevice::SimDevice> simulated;
    onceTheLoopRuns([&] { simulated = attachPaired(configFor("WAITED-0001")); });
    EXPECT_TRUE(hub->waitForConnection());
    ASSERT_EQ(listener->connected.size(), 1u);
    EXPECT_EQ(listener->connected.front()->udid(), "WAITED-0001");

    onceTheLoopRuns([&] { server->detach(simulated); });
    EXPECT_TRUE(hub->waitForConnection());
    EXPECT_EQ(listener->disconnected.size(), 1u);
    EXPECT_TRUE(hub->devices().empty());

    // A device that is passed over ends the wait as well.
    onceTheLoopRuns([&] { attachPaired(configFor("WIRELESS-0002", true)); });
    EXPECT_TRUE(hub->waitForConnection());
    EXPECT_EQ(listener->connected.size(), 1u);
}

class SimHouseArrest : public devicetest::SimAMDeviceTest {
protected:
    std::vector<std::string> commandsFor(const std::string& id) {
        std::vector<std::string> commands;
        simulated->services().locked([&](auto& fields) {
            for (const Value& request : fields.received["com.apple.mobile.house_arrest"])
                if (request["Identifier"] == Value(id)) commands.push_back(request["Command"].stringOr());
            return 0;
        });
        return commands;
    }
};

// The whole container first; an application that gives only its shared documents is asked
// for those.
TEST_F(SimHouseArrest, ContainersThenDocumentsThenTheReason) {
    AMDevice::HeldSession session(am);
    const int whole = am->startApplicationHouseArrestService("com.example.recorder");
    EXPECT_GE(whole, 0);
    EXPECT_EQ(commandsFor("com.example.recorder"), std::vector<std::string>{"VendContainer"});

    const int documents = am->startApplicationHouseArrestService("com.example.reader");
    EXPECT_GE(documents, 0);
    EXPECT_EQ(commandsFor("com.example.reader"), (std::vector<std::string>{"VendContainer", "VendDocuments"}));

    for (const char* refused : {"com.example.weather", "com.example.unknown"}) {
        EXPECT_LT(am->startApplicationHouseArrestService(refused), 0);
        EXPECT_EQ(am->lasterror(), std::string("Unable to find bundle with id: ") + refused);
        EXPECT_EQ(commandsFor(refused), (std::vector<std::string>{"VendContainer", "VendDocuments"}));
    }
    // A container that does not open through the file service says why, and is no error
    // of the phone's own.
    const auto code = am->lastcode();
    EXPECT_FALSE(am->startApplicationFileService("com.example.weather"));
    EXPECT_EQ(am->lasterror(), "Unable to find bundle with id: com.example.weather");
    EXPECT_EQ(am->lastcode(), code);
    for (const int socket : {whole, documents})
        if (socket >= 0) ::close(socket);
}

}  // namespace
