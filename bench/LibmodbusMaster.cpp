#include "LibmodbusMaster.h"

#include <cerrno>

LibmodbusMaster::LibmodbusMaster(const QString &path, int baud, int slave)
{
    m_ctx = modbus_new_rtu(path.toLocal8Bit().constData(), baud, 'N', 8, 1);
    connectTo(slave);
}

LibmodbusMaster::LibmodbusMaster(const Tcp &server, int slave)
{
    m_ctx = modbus_new_tcp(server.host.toLocal8Bit().constData(), server.port);
    connectTo(slave); // the unit id
}

void LibmodbusMaster::connectTo(int slave)
{
    if (!m_ctx) {
        m_error = QString::fromLocal8Bit(modbus_strerror(errno));
        return;
    }
    modbus_set_slave(m_ctx, slave);
    // The same total wait as ours ([connect] receive=500 ms).
    modbus_set_response_timeout(m_ctx, 0, 500000);
    if (modbus_connect(m_ctx) != 0) {
        m_error = QString::fromLocal8Bit(modbus_strerror(errno));
        return;
    }
    m_connected = true;
}

LibmodbusMaster::~LibmodbusMaster()
{
    if (m_ctx) {
        if (m_connected)
            modbus_close(m_ctx);
        modbus_free(m_ctx);
    }
}

bool LibmodbusMaster::read(int start, int count, uint16_t *values)
{
    if (modbus_read_registers(m_ctx, start, count, values) == count)
        return true;
    m_error = QString::fromLocal8Bit(modbus_strerror(errno));
    return false;
}
