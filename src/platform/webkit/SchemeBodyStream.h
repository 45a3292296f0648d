#pragma once

#include <memory>

#include "platform/webkit/SchemeBody.h"

typedef struct _GInputStream GInputStream;

namespace webkit {

// An input stream that reads the body as it arrives (the caller owns the reference).
// Cancelling a read, or closing or dropping the stream before the end, stops the body's
// reading, which tells its producer.
GInputStream* makeSchemeBodyStream(std::shared_ptr<SchemeBody> body);

}  // namespace webkit
