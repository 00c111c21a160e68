#pragma once
#include "LinkTransport.h"
#include "MbapFrames.h"

#include <QTcpSocket>
#include <QTimer>

// The link over a TCP connection: RTU frames as they are (a serial device server), or
// Modbus TCP to a gateway, translated to and from RTU frames here.
class TcpTransport final : public LinkTransport {
public:
    explicit TcpTransport(bool mbap);

    // "tcp://HOST:PORT" or "mbtcp://HOST:PORT" (an IPv6 host in brackets); false otherwise.
    static bool ParseAddress(const QString &path, QString *host, quint16 *port);

    Kind kind() const override { return m_mbap ? Kind::TcpMbap : Kind::TcpRtu; }
    bool startOpen(const QString &path) override;
    bool isOpen() const override { return m_open; }
    bool isOpening() const override { return m_opening; }
    void close() override;
    QString errorString() const override { return m_error; }
    void setSilenceMs(int ms) override { m_silenceMs = qMax(1, ms); }
    qint64 write(const QByteArray &frame) override;
    void flush() override { m_socket.flush(); }
    qint64 bytesToWrite() const override { return m_socket.bytesToWrite(); }
    qint64 bytesAvailable() const override;
    qint64 read(char *data, qint64 maxSize) override;
    QByteArray discardInput() override;
    void discardOutput() override;
    bool pollInput() override;
    bool namesAnswers() const override { return m_mbap; }
    void forgetEarlierRequests() override { m_reader.forgetEarlier(); }

private:
    void onConnected();
    void onError();
    void onDisconnected();
    void onReadyRead();
    void takeMbap(bool notify); // MBAP: received bytes into RTU bytes
    void loseConnection();

    QTcpSocket m_socket;
    const bool m_mbap;
    bool m_open = false;
    bool m_opening = false;
    bool m_closing = false; // our own close: the socket's signals are no loss
    bool m_taking = false;  // discardInput takes in the system's bytes: no readyRead
    QString m_error;
    Mbap::AnswerReader m_reader;
    QByteArray m_in; // MBAP: answers as RTU bytes, not read yet
    QTimer m_gap;    // MBAP: silence after an incomplete frame
    int m_silenceMs = 10;
    quint64 m_told = 0; // readyRead signals given, for pollInput
};
