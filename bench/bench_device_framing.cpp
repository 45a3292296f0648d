// Framed property-list round trips through AMService beside the same messages through
// libimobiledevice's own property-list service, both to the simulated device's heartbeat
// service over the same multiplexer socket. Each iteration sends one XML message and
// reads the device's answer; the final lines give AMService time / baseline time.
#include <benchmark/benchmark.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/property_list_service.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "BaselineReport.h"
#include "device/AMDevice.h"
#include "device/AMService.h"
#include "foundation/PropertyList.h"
#include "platform/mobiledevice/AMDeviceHandle.h"
#include "simdevice/SimUsbmuxServer.h"

using foundation::Value;

namespace {

constexpr const char* kService = "com.apple.mobile.heartbeat";

// The simulated device, set up once for the whole run.
struct Bench {
    Bench() {
        const auto path = std::filesystem::temp_directory_path() /
                          ("orvandel-bench-device-" + std::to_string(::getpid()) + ".sock");
        server = std::make_unique<simdevice::SimUsbmuxServer>(path.string());
        server->start();
        ::setenv("USBMUXD_SOCKET_ADDRESS", server->socketAddress().c_str(), 1);
        simulated = server->attach({});
        server->pairHost(simulated);
        device = AMDevice::deviceFrom(std::make_shared<mobiledevice::AMDeviceHandle>(
            simulated->config().udid, simulated->deviceId(), mobiledevice::kAMDInterfaceUSB));
    }
    std::unique_ptr<simdevice::SimUsbmuxServer> server;
    std::shared_ptr<simdevice::SimDevice> simulated;
    std::shared_ptr<AMDevice> device;
};

Bench& bench() {
    static Bench instance;
    return instance;
}

Value message(std::int64_t payloadBytes) {
    return Value::dict({{"Command", "Polo"},
                        {"Payload", foundation::Data(static_cast<std::size_t>(payloadBytes), 7)}});
}

void BM_AMService(benchmark::State& state) {
    auto& b = bench();
    if (!b.device || !b.device->startNewSession()) {
        state.SkipWithError("no simulated device");
        return;
    }
    auto service = AMService::serviceWithName(kService, b.device);
    b.device->stopOpenedSession();
    if (!service) {
        state.SkipWithError("service did not start");
        return;
    }
    const Value request = message(state.range(0));
    for (auto _ : state) {
        int code = 0;
        if (!service->sendPlistIsBinary(request, false) ||
            service->readPlistTimeoutReturnCode(0, &code).isNil()) {
            state.SkipWithError("round trip failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LibimobiledevicePropertyListService(benchmark::State& state) {
    auto& b = bench();
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t descriptor = nullptr;
    property_list_service_client_t client = nullptr;
    if (idevice_new(&device, b.simulated->config().udid.c_str()) != IDEVICE_E_SUCCESS ||
        lockdownd_client_new_with_handshake(device, &lockdown, "bench") != LOCKDOWN_E_SUCCESS ||
        lockdownd_start_service(lockdown, kService, &descriptor) != LOCKDOWN_E_SUCCESS ||
        property_list_service_client_new(device, descriptor, &client) !=
            PROPERTY_LIST_SERVICE_E_SUCCESS) {
        state.SkipWithError("property-list service did not start");
    } else {
        plist_t request = foundation::plist::toNode(message(state.range(0)));
        for (auto _ : state) {
            plist_t reply = nullptr;
            if (property_list_service_send_xml_plist(client, request) !=
                    PROPERTY_LIST_SERVICE_E_SUCCESS ||
                property_list_service_receive_plist(client, &reply) !=
                    PROPERTY_LIST_SERVICE_E_SUCCESS) {
                state.SkipWithError("round trip failed");
                break;
            }
            plist_free(reply);
        }
        plist_free(request);
        state.SetItemsProcessed(state.iterations());
    }
    if (client) property_list_service_client_free(client);
    if (descriptor) lockdownd_service_descriptor_free(descriptor);
    if (lockdown) lockdownd_client_free(lockdown);
    if (device) idevice_free(device);
}

BENCHMARK(BM_AMService)->Arg(16)->Arg(65536)->UseRealTime();
BENCHMARK(BM_LibimobiledevicePropertyListService)->Arg(16)->Arg(65536)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runWithBaselines(
        argc, argv,
        {{"BM_AMService/16/real_time", "BM_LibimobiledevicePropertyListService/16/real_time"},
         {"BM_AMService/65536/real_time",
          "BM_LibimobiledevicePropertyListService/65536/real_time"}});
}
