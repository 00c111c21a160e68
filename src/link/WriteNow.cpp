#include "WriteNow.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#endif

qint64 WriteNow(qintptr descriptor, const char *data, qint64 size, bool socket) {
    qint64 done = 0;
#ifdef Q_OS_UNIX
    const int fd = int(descriptor);
    while (done < size) {
        const auto rest = size_t(size - done);
        const ssize_t n = socket ? ::send(fd, data + done, rest, MSG_NOSIGNAL | MSG_DONTWAIT)
                                 : ::write(fd, data + done, rest);
        if (n > 0)
            done += n;
        else if (!(n < 0 && errno == EINTR))
            break;
    }
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(data);
    Q_UNUSED(size);
    Q_UNUSED(socket);
#endif
    return done;
}
