#include "shell/windows/RepeatedEnds.h"

bool RepeatedEnds::noteEndAt(Clock::time_point now) {
    ends_.push_back(now);
    while (!ends_.empty() && now - ends_.front() >= kWithin) ends_.pop_front();
    return int(ends_.size()) < kMostEnds;
}
