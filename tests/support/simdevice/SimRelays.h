#pragma once

#include "simdevice/SimDevice.h"

namespace simdevice {

// "com.apple.syslog_relay": the device's log messages, each ended by a zero byte and a
// line feed, then silence until the peer leaves.
void serveSyslogRelay(SimDevice& device, int fd);
// "com.apple.mobile.file_relay": one request for named sets, answered by a gzip-compressed
// cpio archive, after which the device hangs up.
void serveFileRelay(SimDevice& device, int fd);
// "com.apple.mobile.diagnostics_relay" and "com.apple.iosdiagnostics.relay".
void serveDiagnosticsRelay(SimDevice& device, int fd);
// "com.apple.mobile.notification_proxy": observe, post (relayed to every observer on the
// device) and shutdown.
void serveNotificationProxy(SimDevice& device, int fd);

}  // namespace simdevice
