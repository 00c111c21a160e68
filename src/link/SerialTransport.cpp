#include "SerialTransport.h"

#include "TcpTransport.h"

#include "WriteNow.h"

SerialTransport::SerialTransport() {
    connect(&m_port, &QSerialPort::readyRead, this, [this] { tellInput(); });
    connect(&m_port, &QSerialPort::bytesWritten, this, &LinkTransport::bytesWritten);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A vanished device (USB adapter pulled out): close it; the next open reopens it.
        if (e == QSerialPort::ResourceError && m_port.isOpen()) {
            m_port.close();
            emit lost();
        }
    });
}

bool SerialTransport::startOpen(const QString &path) {
    m_port.setPortName(path);
    return !path.isEmpty() && m_port.open(QIODevice::ReadWrite);
}

void SerialTransport::close() {
    if (m_port.isOpen())
        m_port.close();
}

bool SerialTransport::setLine(qint32 rate, std::optional<QSerialPort::Parity> parity,
                              QSerialPort::StopBits stops) {
    // A value the port already has is not set again, which spares a USB adapter four
    // control transfers per cycle.
    bool ok = true;
    if (rate && m_port.baudRate() != rate)
        ok = m_port.setBaudRate(rate);
    if (ok && parity && m_port.parity() != *parity)
        ok = m_port.setParity(*parity);
    if (ok && m_port.stopBits() != stops)
        ok = m_port.setStopBits(stops);
    if (ok && m_port.dataBits() != QSerialPort::Data8)
        ok = m_port.setDataBits(QSerialPort::Data8);
    return ok;
}

qint64 SerialTransport::write(const QByteArray &frame) {
#ifdef Q_OS_UNIX
    if (m_port.isOpen() && m_port.bytesToWrite() == 0) {
        const qint64 done = WriteNow(m_port.handle(), frame.constData(), frame.size(), false);
        if (done == frame.size())
            return done;
        // What the driver did not take, or an error, goes the port's own way.
        const qint64 rest = m_port.write(frame.constData() + done, frame.size() - done);
        return rest < 0 ? (done > 0 ? done : -1) : done + rest;
    }
#endif
    return m_port.write(frame);
}

QByteArray SerialTransport::discardInput() {
    // Nothing buffered is the usual case: no copy made for nothing. The driver's bytes are
    // dropped either way.
    const QByteArray old = m_port.bytesAvailable() > 0 ? m_port.readAll() : QByteArray();
    m_port.clear(QSerialPort::Input);
    return old;
}

LinkTransport::Kind LinkTransport::KindOf(const QString &path) {
    if (path.startsWith(QLatin1String("tcp://"), Qt::CaseInsensitive))
        return Kind::TcpRtu;
    if (path.startsWith(QLatin1String("mbtcp://"), Qt::CaseInsensitive))
        return Kind::TcpMbap;
    return Kind::Serial;
}

std::unique_ptr<LinkTransport> LinkTransport::Create(Kind kind) {
    if (kind == Kind::Serial)
        return std::make_unique<SerialTransport>();
    return std::make_unique<TcpTransport>(kind == Kind::TcpMbap);
}
