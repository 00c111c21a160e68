#include "SimPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString lastError() { return QString::fromLocal8Bit(strerror(errno)); }

speed_t speedOf(int baud)
{
    switch (baud) {
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B9600;
    }
}

bool makeRaw(int fd, speed_t speed, QString *error)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        *error = lastError();
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = lastError();
        return false;
    }
    return true;
}

} // namespace

bool SimPort::openPty(QString *error)
{
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty: ") + lastError();
        return false;
    }
    fd = master;
    holdFd = slave;
    pty = true;
    path = QString::fromLocal8Bit(ttyname(slave));
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    // No echo from the start: until the program sets its own mode, an echoing line would
    // hand our answers back to us as requests.
    return makeRaw(slave, B9600, error);
}

bool SimPort::openDevice(const QString &devicePath, QString *error)
{
    fd = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = devicePath + QStringLiteral(": ") + lastError();
        return false;
    }
    path = devicePath;
    pty = false;
    return makeRaw(fd, B9600, error);
}

bool SimPort::applyLine(const LineSettings &line, QString *note)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        *note = lastError();
        return false;
    }
    const speed_t speed = speedOf(BaudOfIndex(line.baudIndex));
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    if (pty) {
        note->clear();
        if (line.parity != 0 || line.stopBits != 1)
            *note = QStringLiteral("parity and stop bits recorded only: a pty carries none");
        return tcsetattr(fd, TCSANOW, &t) == 0;
    }
    t.c_cflag &= ~tcflag_t(PARENB | PARODD | CSTOPB);
    if (line.parity == 1)
        t.c_cflag |= PARENB;
    else if (line.parity == 2)
        t.c_cflag |= PARENB | PARODD;
    if (line.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        *note = lastError();
        return false;
    }
    note->clear();
    return true;
}

void SimPort::close()
{
    if (fd >= 0)
        ::close(fd);
    if (holdFd >= 0)
        ::close(holdFd);
    fd = holdFd = -1;
}
