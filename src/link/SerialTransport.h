#pragma once
#include "LinkTransport.h"

#include <QSerialPort>

// The link on a serial port (QSerialPort).
class SerialTransport final : public LinkTransport {
public:
    SerialTransport();

    Kind kind() const override { return Kind::Serial; }
    bool startOpen(const QString &path) override;
    bool isOpen() const override { return m_port.isOpen(); }
    void close() override;
    QString errorString() const override { return m_port.errorString(); }
    bool setLine(qint32 rate, std::optional<QSerialPort::Parity> parity,
                 QSerialPort::StopBits stops) override;
    qint32 baudRate() const override { return m_port.isOpen() ? m_port.baudRate() : 0; }
    qint64 write(const QByteArray &frame) override;
    void flush() override { m_port.flush(); }
    qint64 bytesToWrite() const override { return m_port.bytesToWrite(); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    qint64 read(char *data, qint64 maxSize) override { return m_port.read(data, maxSize); }
    QByteArray discardInput() override;
    void discardOutput() override { m_port.clear(QSerialPort::Output); }
    bool pollInput() override { return m_port.isOpen() && m_port.waitForReadyRead(0); }

private:
    QSerialPort m_port;
};
