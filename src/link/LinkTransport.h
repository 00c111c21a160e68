#pragma once
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <memory>
#include <optional>

// What carries the link's RTU frames: a serial port, or a TCP connection with the frames as
// they are (serial device servers) or wrapped in MBAP headers (Modbus TCP gateways). The
// link sees RTU frames in both directions whatever the carrier; it never blocks on one.
class LinkTransport : public QObject {
    Q_OBJECT
public:
    enum class Kind { Serial, TcpRtu, TcpMbap };
    // "tcp://HOST:PORT" and "mbtcp://HOST:PORT" name connections; anything else a device.
    static Kind KindOf(const QString &path);
    static std::unique_ptr<LinkTransport> Create(Kind kind);

    virtual Kind kind() const = 0;
    // Starts opening path. False when that failed at once; a connection may still be under
    // way afterwards (isOpening), and opened() or failed() says how it ended.
    virtual bool startOpen(const QString &path) = 0;
    virtual bool isOpen() const = 0;
    virtual bool isOpening() const { return false; }
    virtual void close() = 0;
    virtual QString errorString() const = 0;

    // Line settings; a connection has none and takes any.
    virtual bool setLine(qint32 rate, std::optional<QSerialPort::Parity> parity,
                         QSerialPort::StopBits stops) {
        Q_UNUSED(rate);
        Q_UNUSED(parity);
        Q_UNUSED(stops);
        return true;
    }
    virtual qint32 baudRate() const { return 0; } // 0: no line rate (a connection, or closed)
    // Silence that ends an incomplete frame (the link's rule), for carriers that frame.
    virtual void setSilenceMs(int ms) { Q_UNUSED(ms); }

    // One whole RTU frame; returns its size when taken.
    virtual qint64 write(const QByteArray &frame) = 0;
    virtual void flush() = 0;
    virtual qint64 bytesToWrite() const = 0;
    // Received RTU bytes.
    virtual qint64 bytesAvailable() const = 0;
    virtual qint64 read(char *data, qint64 maxSize) = 0;
    // Drops what has been received so far; returns it (for the debug log).
    virtual QByteArray discardInput() = 0;
    // Nothing more of what was written goes out.
    virtual void discardOutput() = 0;
    // Takes in bytes the system holds but has not told of yet; true when there were any.
    virtual bool pollInput() = 0;
    // Whether an answer names the request it answers (Modbus TCP's transaction id), so
    // that the transport itself drops answers to earlier requests.
    virtual bool namesAnswers() const { return false; }
    // A new transaction begins: answers to every request sent so far are not wanted, however
    // late they come.
    virtual void forgetEarlierRequests() {}

    // Told of received bytes by a direct call before readyRead is emitted: on a paced line
    // that happens for every byte, and a signal hop costs about a sixth of a wake-up.
    class InputListener {
    public:
        virtual void inputArrived() = 0;

    protected:
        ~InputListener() = default;
    };
    void setInputListener(InputListener *listener) { m_listener = listener; }

signals:
    void readyRead();
    void bytesWritten();
    void openEnded(); // a connection attempt succeeded or failed
    void lost();      // the device or the connection went away; the transport is closed

protected:
    void tellInput()
    {
        if (m_listener)
            m_listener->inputArrived();
        emit readyRead();
    }

private:
    InputListener *m_listener = nullptr;
};
