#pragma once
#include <QString>
#include <cstdint>
#include <modbus.h>

// libmodbus as the reference master: RTU, 8N1, on the simulator's pty; or its Modbus TCP
// client.
class LibmodbusMaster {
public:
    LibmodbusMaster(const QString &path, int baud, int slave);
    struct Tcp {
        QString host;
        int port;
    };
    LibmodbusMaster(const Tcp &server, int slave);
    ~LibmodbusMaster();
    LibmodbusMaster(const LibmodbusMaster &) = delete;
    LibmodbusMaster &operator=(const LibmodbusMaster &) = delete;

    bool ok() const { return m_connected; }
    QString error() const { return m_error; }
    bool read(int start, int count, uint16_t *values);

private:
    void connectTo(int slave);

    modbus_t *m_ctx = nullptr;
    bool m_connected = false;
    QString m_error;
};
