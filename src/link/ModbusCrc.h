#pragma once
#include <QByteArray>
#include <QtGlobal>

// CRC-16 of Modbus (reflected 0xA001, start 0xFFFF), table form. The low byte is sent first.
quint16 ModbusCrc16(const quint8 *bytes, qsizetype length);
inline quint16 ModbusCrc16(const QByteArray &bytes)
{
    return ModbusCrc16(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
}

// Appends the CRC of frame to it, low byte first.
void AppendModbusCrc(QByteArray &frame);
// True when the last two bytes of frame are the CRC of the bytes before them.
bool ModbusCrcMatches(const QByteArray &frame);
