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
    if (m.MAX_SENSORS > kMaxSensors)
        return QStringLiteral("MAX_SENSORS > %1").arg(kMaxSensors);
    struct Block {
        const char *name;
        int size;
    };
    const Block blocks[] = {
        {"MAX_SENSORS", m.MAX_SENSORS},
        {"CONNECT_SETTINGS_SIZE", m.CONNECT_SETTINGS_SIZE},
        {"SENSOR_SETTINGS_SIZE_MODBUS", m.SENSOR_SETTINGS_SIZE_MODBUS},
        {"RELAY_SETTINGS_SIZE", m.RELAY_SETTINGS_SIZE},
        {"QOR_SENSOR_TAG_SIZE", firmwareVersion >= kFirstTagFirmware ? m.QOR_SENSOR_TAG_SIZE : 0},
    };
    for (const Block &b : blocks)
        if (b.size > kMaxRegistersPerRead)
            return QStringLiteral("%1 > %2").arg(QLatin1String(b.name)).arg(kMaxRegistersPerRead);
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
