#include "DeviceRegisterMap.h"

#include "IntText.h"
#include "MemIniFile.h"

#include <QDir>

bool ReadHexKey(const MemIniFile &ini, const QString &section, const QString &key, quint16 &out)
{
    const QString text = ini.readString(section, key, QString());
    if (text.isEmpty())
        return false;
    const auto value = ParseHexPrefix(text);
    if (!value)
        return false;
    out = quint16(*value & 0xFFFF);
    return true;
}

bool ReadIntKey(const MemIniFile &ini, const QString &section, const QString &key, quint16 &out)
{
    const int value = ini.readInteger(section, key, -1);
    if (value < 0)
        return false;
    out = quint16(value & 0xFFFF);
    return true;
}

bool ParseRegisterMap(const MemIniFile &ini, DeviceRegisterMap &m, quint16 firmwareVersion)
{
    const QString s = QStringLiteral("modbus");
    auto hex = [&](const char *key, quint16 &field) {
        return ReadHexKey(ini, s, QString::fromLatin1(key), field);
    };
    auto num = [&](const char *key, quint16 &field) {
        return ReadIntKey(ini, s, QString::fromLatin1(key), field);
    };
    const bool base = num("MAX_SENSORS", m.MAX_SENSORS) &&
                      hex("QOR_TEMPERATURE_ADDR", m.QOR_TEMPERATURE_ADDR) &&
                      hex("QOR_STATUS_ADDR", m.QOR_STATUS_ADDR) &&
                      hex("QOR_TIMEELAPSED_ADDR", m.QOR_TIMEELAPSED_ADDR) &&
                      num("SENSOR_DATA_SIZE", m.SENSOR_DATA_SIZE) &&
                      num("STAT_NOT_DEFINED", m.STAT_NOT_DEFINED) &&
                      hex("CONNECT_SETTINGS_ADDR", m.CONNECT_SETTINGS_ADDR) &&
                      num("CONNECT_SETTINGS_SIZE", m.CONNECT_SETTINGS_SIZE) &&
                      hex("SENSOR_SETTINGS_ADDR", m.SENSOR_SETTINGS_ADDR) &&
                      num("SENSOR_SETTINGS_STEP", m.SENSOR_SETTINGS_STEP) &&
                      num("SENSOR_SETTINGS_SIZE_MODBUS", m.SENSOR_SETTINGS_SIZE_MODBUS) &&
                      hex("RELAY_SETTINGS_ADDR", m.RELAY_SETTINGS_ADDR) &&
                      num("RELAY_NUMBER", m.RELAY_NUMBER) &&
                      num("RELAY_SETTINGS_STEP", m.RELAY_SETTINGS_STEP) &&
                      num("RELAY_SETTINGS_SIZE", m.RELAY_SETTINGS_SIZE) &&
                      hex("RELAY_STATUS_ADDR", m.RELAY_STATUS_ADDR);
    if (!base)
        return false;
    if (firmwareVersion < kFirstTagFirmware)
        return true;
    return hex("QOR_SENSOR_TAG_ADDR", m.QOR_SENSOR_TAG_ADDR) &&
           num("QOR_SENSOR_TAG_STEP", m.QOR_SENSOR_TAG_STEP) &&
           num("QOR_SENSOR_TAG_SIZE", m.QOR_SENSOR_TAG_SIZE);
}

QString RegisterMapProblem(const DeviceRegisterMap &m, quint16 firmwareVersion)
{
    const bool tags = firmwareVersion >= kFirstTagFirmware;
    struct Bound {
        const char *name;
        int value, low, high;
    };
    const Bound bounds[] = {
        {"MAX_SENSORS", m.MAX_SENSORS, 1, kMaxSensors},
        {"SENSOR_DATA_SIZE", m.SENSOR_DATA_SIZE, 0, kMaxSensorDataColumns},
        {"CONNECT_SETTINGS_SIZE", m.CONNECT_SETTINGS_SIZE, kConnectWordsShown, kMaxRegistersPerRead},
        {"SENSOR_SETTINGS_SIZE_MODBUS", m.SENSOR_SETTINGS_SIZE_MODBUS, kSensorIdWords,
         kMaxRegistersPerRead},
        {"RELAY_NUMBER", m.RELAY_NUMBER, 1, kMaxRelays},
        {"RELAY_SETTINGS_SIZE", m.RELAY_SETTINGS_SIZE, 1, kMaxRegistersPerRead},
        {"QOR_SENSOR_TAG_SIZE", tags ? m.QOR_SENSOR_TAG_SIZE : 1, 1, kMaxRegistersPerRead},
    };
    for (const Bound &b : bounds)
        if (b.value < b.low || b.value > b.high)
            return QStringLiteral("%1=%2 (%3 … %4)")
                .arg(QLatin1String(b.name))
                .arg(b.value)
                .arg(b.low)
                .arg(b.high);
    // First register, items, register distance and registers of each block.
    struct Block {
        const char *name;
        quint32 start, count, step, size;
    };
    const Block blocks[] = {
        {"QOR_TEMPERATURE_ADDR", m.QOR_TEMPERATURE_ADDR, 1, 0, m.MAX_SENSORS},
        {"QOR_STATUS_ADDR", m.QOR_STATUS_ADDR, 1, 0, m.MAX_SENSORS},
        {"QOR_TIMEELAPSED_ADDR", m.QOR_TIMEELAPSED_ADDR, 1, 0, m.MAX_SENSORS},
        {"CONNECT_SETTINGS_ADDR", m.CONNECT_SETTINGS_ADDR, 1, 0, m.CONNECT_SETTINGS_SIZE},
        {"SENSOR_SETTINGS_ADDR", m.SENSOR_SETTINGS_ADDR, m.MAX_SENSORS, m.SENSOR_SETTINGS_STEP,
         m.SENSOR_SETTINGS_SIZE_MODBUS},
        {"RELAY_SETTINGS_ADDR", m.RELAY_SETTINGS_ADDR, m.RELAY_NUMBER, m.RELAY_SETTINGS_STEP,
         m.RELAY_SETTINGS_SIZE},
        {"QOR_SENSOR_TAG_ADDR", m.QOR_SENSOR_TAG_ADDR, tags ? m.MAX_SENSORS : 0u,
         m.QOR_SENSOR_TAG_STEP, m.QOR_SENSOR_TAG_SIZE},
    };
    for (const Block &b : blocks)
        if (b.count > 0 && b.start + (b.count - 1) * b.step + b.size > 0x10000)
            return QStringLiteral("%1: > 0xFFFF").arg(QLatin1String(b.name));
    return {};
}

QString VersionText(quint16 word, QChar separator)
{
    return QString::number(word >> 8) + separator + QString::number(word & 0xFF);
}

QString DeviceConfigPath(const QString &folder, quint16 firmwareVersion)
{
    return QDir(folder).filePath(QStringLiteral("Cfg/qor7070__fw_") + VersionText(firmwareVersion, u'_') +
                                 QStringLiteral(".ini"));
}
