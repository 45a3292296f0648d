#pragma once

#include "http/NetBandwidthThrottle.h"

// A request as the throttle sees it: only whether its read stream is scheduled.
class FakeThrottleTarget : public NetThrottleTarget {
public:
    bool readStreamIsScheduled() const override { return scheduled; }
    void scheduleReadStream() override { scheduled = true; }
    void unscheduleReadStream() override { scheduled = false; }
    bool scheduled = true;
};
