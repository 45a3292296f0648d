#include "foundation/QueueLabel.h"

namespace foundation {

namespace {
thread_local std::string_view currentLabel;
}

void QueueLabel::setForCurrentThread(std::string_view label) {
    currentLabel = label;
}

std::string_view QueueLabel::current() {
    return currentLabel;
}

}  // namespace foundation
