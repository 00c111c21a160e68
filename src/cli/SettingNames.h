#pragma once
#include <QString>
#include <QStringList>
#include <optional>

class MemIniFile;

// One setting of the controller by the name get and set take: "sensor.3.threshold1",
// "relay.2.on-delay", "connect.channel". It names one cell of the window's tables: the
// sensor-settings column (1 ID .. 6), the relay-settings column (1 .. 4) or the word of
// the connection block (0 address .. 5 menu language).
struct SettingName {
    enum class Area { Sensor, Relay, Connect };
    Area area = Area::Sensor;
    int number = 0; // sensor or relay, 1-based; 0 for the connection
    int column = 0;

    QString name() const;
    // "датчик 3 порог 1" in the language of settings.
    QString label(const MemIniFile &settings) const;
};

// The names get and set take; sensor and relay numbers are checked against the
// controller's map once it is known.
std::optional<SettingName> ParseSettingName(const QString &name);
// The settable names as patterns ("sensor.N.threshold1"), for --help.
QStringList SettingNamePatterns();
// The tag of sensor n, for readable lines: "датчик 7 метка".
QString SensorTagLabel(const MemIniFile &settings, int n);
// A connection word as the window shows it: the baud rate, the parity's name, the stop
// bits, the menu language; address and channel as numbers.
QString ConnectWordText(const MemIniFile &settings, int word, int value);
