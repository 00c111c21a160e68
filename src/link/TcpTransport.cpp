#include "TcpTransport.h"

#include "WriteNow.h"

#include <QLoggingCategory>
#include <QUrl>

Q_DECLARE_LOGGING_CATEGORY(lcLink)

TcpTransport::TcpTransport(bool mbap) : m_mbap(mbap) {
    m_gap.setSingleShot(true);
    m_gap.setTimerType(Qt::PreciseTimer);
    connect(&m_socket, &QTcpSocket::connected, this, &TcpTransport::onConnected);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpTransport::onError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &TcpTransport::onDisconnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &TcpTransport::onReadyRead);
    connect(&m_socket, &QTcpSocket::bytesWritten, this, &LinkTransport::bytesWritten);
    connect(&m_gap, &QTimer::timeout, this, [this] {
        const QByteArray rtu = m_reader.silence();
        if (rtu.isEmpty())
            return;
        m_in.append(rtu);
        ++m_told;
        tellInput();
    });
}

bool TcpTransport::ParseAddress(const QString &path, QString *host, quint16 *port) {
    const QUrl url(path, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("tcp") && scheme != QLatin1String("mbtcp")) ||
        url.host().isEmpty() || url.port() < 1 || !url.userInfo().isEmpty() ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment())
        return false;
    *host = url.host();
    *port = quint16(url.port());
    return true;
}

bool TcpTransport::startOpen(const QString &path) {
    close();
    QString host;
    quint16 port = 0;
    if (!ParseAddress(path, &host, &port)) {
        m_error = QStringLiteral("not a HOST:PORT address: ") + path;
        return false;
    }
    m_error.clear();
    m_opening = true;
    m_socket.connectToHost(host, port);
    return m_opening || m_open; // a failure may have been told at once
}

void TcpTransport::onConnected() {
    // Frames are small and each waits for its answer: no Nagle delay.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_opening = false;
    m_open = true;
    m_reader.reset();
    m_in.clear();
    emit openEnded();
}

void TcpTransport::onError() {
    // A zero wait for input (pollInput) that finds none says "timed out": no fault.
    if (m_closing || m_socket.error() == QAbstractSocket::SocketTimeoutError)
        return;
    m_error = m_socket.errorString();
    if (m_opening) {
        m_opening = false;
        m_closing = true;
        m_socket.abort();
        m_closing = false;
        emit openEnded();
    } else if (m_open) {
        loseConnection();
    }
}

void TcpTransport::onDisconnected() {
    if (!m_closing && m_open) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("connection closed by the other end");
        loseConnection();
    }
}

void TcpTransport::loseConnection() {
    qCDebug(lcLink) << "connection lost:" << m_error;
    close();
    emit lost();
}

void TcpTransport::close() {
    m_closing = true;
    m_socket.abort();
    m_closing = false;
    m_open = m_opening = false;
    m_gap.stop();
    m_reader.reset();
    m_in.clear();
}

void TcpTransport::onReadyRead() {
    if (m_taking) { // discardInput drops them; nobody is told
        if (m_mbap)
            takeMbap(false);
        return;
    }
    if (!m_mbap) {
        ++m_told;
        tellInput();
        return;
    }
    takeMbap(true);
}

void TcpTransport::takeMbap(bool notify) {
    if (m_socket.bytesAvailable() == 0)
        return;
    const QByteArray bytes = m_socket.readAll();
    if (bytes.isEmpty())
        return;
    const QByteArray rtu = m_reader.feed(bytes);
    // An incomplete frame is ended by silence, counted from its last byte.
    if (m_reader.pending())
        m_gap.start(m_silenceMs);
    else
        m_gap.stop();
    if (rtu.isEmpty())
        return;
    m_in.append(rtu);
    if (notify) {
        ++m_told;
        tellInput();
    }
}

qint64 TcpTransport::write(const QByteArray &frame) {
    if (!m_open)
        return -1;
    const QByteArray bytes = m_mbap ? m_reader.request(frame) : frame;
    if (bytes.isEmpty())
        return -1;
    qint64 done = 0;
#ifdef Q_OS_UNIX
    // Straight to the socket when nothing is queued (a request fits its buffer); what it
    // does not take, or an error, goes the socket's own way.
    if (m_socket.bytesToWrite() == 0 && m_socket.socketDescriptor() >= 0)
        done = WriteNow(m_socket.socketDescriptor(), bytes.constData(), bytes.size(), true);
#endif
    if (done == bytes.size())
        return frame.size();
    const qint64 rest = bytes.size() - done;
    return m_socket.write(bytes.constData() + done, rest) == rest ? frame.size() : -1;
}

qint64 TcpTransport::bytesAvailable() const {
    return m_mbap ? m_in.size() : m_socket.bytesAvailable();
}

qint64 TcpTransport::read(char *data, qint64 maxSize) {
    if (!m_mbap)
        return m_socket.read(data, maxSize);
    const qint64 n = qMin<qint64>(maxSize, m_in.size());
    std::copy_n(m_in.constData(), n, data);
    m_in.remove(0, n);
    return n;
}

QByteArray TcpTransport::discardInput() {
    if (!m_open)
        return {};
    // Bytes the system holds but has not told of yet are dropped too, as clearing a serial
    // port's input drops the driver's: a late answer there is never taken for the next one.
    m_taking = true;
    m_socket.waitForReadyRead(0);
    m_taking = false;
    if (!m_open)
        return {};
    if (!m_mbap)
        return m_socket.readAll();
    // Whole frames are judged by their transaction first; a frame still arriving stays
    // and is judged when it is complete.
    takeMbap(false);
    QByteArray old;
    old.swap(m_in);
    return old;
}

void TcpTransport::discardOutput() {
    // A stream cannot take bytes back. Bytes still waiting to go mean a connection that
    // does not take them: give it up.
    if (m_open && m_socket.bytesToWrite() > 0) {
        m_error = QStringLiteral("connection does not take data");
        loseConnection();
    }
}

bool TcpTransport::pollInput() {
    if (!m_open)
        return false;
    const quint64 before = m_told;
    m_socket.waitForReadyRead(0);
    return m_told != before;
}
