#pragma once
#include <QString>
#include <QtGlobal>

class MemIniFile;

// The register layout of one firmware, read from its device-configuration file; all zero
// until a controller has been identified.
struct DeviceRegisterMap {
    quint16 MAX_SENSORS = 0;
    quint16 QOR_TEMPERATURE_ADDR = 0;
    quint16 QOR_STATUS_ADDR = 0;
    quint16 QOR_TIMEELAPSED_ADDR = 0;
    quint16 SENSOR_DATA_SIZE = 0;
    quint16 STAT_NOT_DEFINED = 0;
    quint16 CONNECT_SETTINGS_ADDR = 0;
    quint16 CONNECT_SETTINGS_SIZE = 0;
    quint16 SENSOR_SETTINGS_ADDR = 0;
    quint16 SENSOR_SETTINGS_STEP = 0;
    quint16 SENSOR_SETTINGS_SIZE_MODBUS = 0;
    quint16 RELAY_SETTINGS_ADDR = 0;
    quint16 RELAY_NUMBER = 0;
    quint16 RELAY_SETTINGS_STEP = 0;
    quint16 RELAY_SETTINGS_SIZE = 0;
    quint16 RELAY_STATUS_ADDR = 0;
    quint16 QOR_SENSOR_TAG_ADDR = 0;
    quint16 QOR_SENSOR_TAG_STEP = 0;
    quint16 QOR_SENSOR_TAG_SIZE = 0;
};

// Firmware from which the controller has sensor tags (1.2).
constexpr quint16 kFirstTagFirmware = 0x0102;
// What the program can poll and show. One read answer carries at most 125 registers (a
// byte count of 250); the relay state is one register, a bit per relay; the connection
// page shows the first six words of its block; a sensor's settings begin with its ID in
// two words; a live-data grid shows at most kMaxSensorDataColumns value columns.
constexpr int kMaxRegistersPerRead = 125;
constexpr int kMaxSensors = 36;
constexpr int kMaxRelays = 16;
constexpr int kConnectWordsShown = 6;
constexpr int kSensorIdWords = 2;
constexpr int kMaxSensorDataColumns = 64;

// Hexadecimal key ("%x" rules); false when empty or without a digit.
bool ReadHexKey(const MemIniFile &ini, const QString &section, const QString &key, quint16 &out);
// Integer key (decimal, 0x or $ hex); false when absent, unparsable or negative.
bool ReadIntKey(const MemIniFile &ini, const QString &section, const QString &key, quint16 &out);

// Reads [modbus] key by key into map, stopping at the first bad key. The tag keys are read
// only for firmware 1.2 and later.
bool ParseRegisterMap(const MemIniFile &ini, DeviceRegisterMap &map, quint16 firmwareVersion);

// Why a parsed map cannot be used, or an empty text when it can: a count or size outside
// what the bounds above allow (a block of 0 registers is refused by every controller), or
// a block that runs past register 0xFFFF.
QString RegisterMapProblem(const DeviceRegisterMap &map, quint16 firmwareVersion);

// "1.2" from 0x0102; "1_2" for file names.
QString VersionText(quint16 word, QChar separator = u'.');
// Cfg/qor7070__fw_<major>_<minor>.ini under folder.
QString DeviceConfigPath(const QString &folder, quint16 firmwareVersion);
