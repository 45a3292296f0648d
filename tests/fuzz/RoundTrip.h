#pragma once

// What a round trip (read, write, read again) must keep: the same value, kind for kind.
// Dates are the one exception: the binary form counts seconds from 2001, and shifting a
// date to and from 1970 may move it by a rounding step.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "foundation/PropertyListDate.h"
#include "foundation/Value.h"

namespace fuzzing {

inline bool sameDate(double a, double b) {
    if (a == b || (std::isnan(a) && std::isnan(b))) return true;
    const double scale =
        std::max({std::abs(a), std::abs(b), foundation::plist::kSecondsFrom1970To2001});
    return std::abs(a - b) <= 4 * std::numeric_limits<double>::epsilon() * scale;
}

// Recursion is bounded by the readers' nesting limit.
inline bool sameAfterRoundTrip(const foundation::Value& a, const foundation::Value& b) {
    using Kind = foundation::Value::Kind;
    if (a.kind() != b.kind()) return false;
    switch (a.kind()) {
        case Kind::Date:
            return sameDate(a.date()->secondsSince1970, b.date()->secondsSince1970);
        case Kind::Array: {
            const auto& x = *a.array();
            const auto& y = *b.array();
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i) {
                if (!sameAfterRoundTrip(x[i], y[i])) return false;
            }
            return true;
        }
        case Kind::Dictionary: {
            const auto& x = *a.dictionary();
            const auto& y = *b.dictionary();
            if (x.size() != y.size()) return false;
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first || !sameAfterRoundTrip(i->second, j->second)) return false;
            }
            return true;
        }
        default:
            return a == b;
    }
}

// Stops the run so that the fuzzer keeps the input.
inline void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace fuzzing
