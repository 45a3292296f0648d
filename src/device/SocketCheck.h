#pragma once

#include <cstdint>

// Readiness the wait asks for.
enum fd_mode { FDM_READ = 0, FDM_WRITE = 1, FDM_EXCEPT = 2 };

// Status values of the socket waits and reads.
inline constexpr int kSocketTimedOut = -60;
inline constexpr int kSocketPeerClosed = -54;

// Waits until the socket is ready for the mode; timeoutMs 0 waits without limit.
// Positive when ready (also when the peer hung up, so that the read sees it), -60 on
// expiry, -1 for a bad descriptor or mode or a failed wait. Interrupted waits resume
// with the time that is left.
int socket_check_fd(int fd, fd_mode mode, unsigned int timeoutMs);
