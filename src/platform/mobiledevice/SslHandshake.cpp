#include "platform/mobiledevice/SslHandshake.h"

#include <fcntl.h>

namespace mobiledevice {

idevice_error_t enableSsl(idevice_connection_t connection) {
    int fd = -1;
    if (idevice_connection_get_fd(connection, &fd) != IDEVICE_E_SUCCESS || fd < 0) {
        return idevice_connection_enable_ssl(connection);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    const bool nonBlocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
    if (nonBlocking) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const idevice_error_t error = idevice_connection_enable_ssl(connection);
    if (nonBlocking) ::fcntl(fd, F_SETFL, flags);
    return error;
}

}  // namespace mobiledevice
