#include "SimTcp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString lastError() {
    return QString::fromLocal8Bit(strerror(errno));
}

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

bool SimTcp::listen(const QString &hostPort, QString *error) {
    const qsizetype colon = hostPort.lastIndexOf(u':');
    bool ok = false;
    const uint p = colon > 0 ? hostPort.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || p > 65535) {
        *error = QStringLiteral("--tcp wants HOST:PORT, not '%1'").arg(hostPort);
        return false;
    }
    host = hostPort.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    port = quint16(p);
    return bindAndListen(error);
}

bool SimTcp::listenAgain(QString *error) {
    return listenFd >= 0 || bindAndListen(error);
}

bool SimTcp::bindAndListen(QString *error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const QByteArray service = QByteArray::number(port);
    const int rc = getaddrinfo(host.isEmpty() ? nullptr : host.toLocal8Bit().constData(),
                               service.constData(), &hints, &found);
    if (rc != 0) {
        *error = host + QStringLiteral(": ") + QString::fromLocal8Bit(gai_strerror(rc));
        return false;
    }
    QString why;
    for (addrinfo *a = found; a && listenFd < 0; a = a->ai_next) {
        int fd =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            why = lastError();
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on); // listen again at once
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
            why = lastError();
            closeFd(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len) == 0)
            port = ntohs(bound.ss_family == AF_INET6
                             ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
        listenFd = fd;
    }
    freeaddrinfo(found);
    if (listenFd < 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(address(), why);
        return false;
    }
    return true;
}

void SimTcp::stopListening() {
    closeFd(listenFd);
}

bool SimTcp::accept(QString *peer) {
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    const int fd = ::accept4(listenFd, reinterpret_cast<sockaddr *>(&from), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return false;
    char name[INET6_ADDRSTRLEN] = {};
    if (from.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 *>(&from)->sin6_addr, name, sizeof name);
    else
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(&from)->sin_addr, name, sizeof name);
    *peer = QString::fromLatin1(name);
    if (clientFd >= 0) {
        ::close(fd);
        return false;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // answers go out at once
    clientFd = fd;
    return true;
}

void SimTcp::dropClient() {
    closeFd(clientFd);
}

void SimTcp::close() {
    dropClient();
    stopListening();
}

QString SimTcp::address() const {
    const QString h = host.contains(u':') ? u'[' + host + u']' : host;
    return h + u':' + QString::number(port);
}
