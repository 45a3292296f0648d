#pragma once

#include <cstdint>

class NetHTTPRequest;

// A progress listener, always called on the main thread: an indicator (a fraction of a
// maximum) and the byte counts behind it. Every operation is optional.
class NetProgressDelegate {
public:
    virtual ~NetProgressDelegate() = default;

    virtual void setDoubleValue(double) {}
    virtual void setMaxValue(double) {}
    virtual void requestDidReceiveBytes(NetHTTPRequest&, std::int64_t) {}
    virtual void requestDidSendBytes(NetHTTPRequest&, std::int64_t) {}
    virtual void requestIncrementDownloadSizeBy(NetHTTPRequest&, std::int64_t) {}
    virtual void requestIncrementUploadSizeBy(NetHTTPRequest&, std::int64_t) {}
};
