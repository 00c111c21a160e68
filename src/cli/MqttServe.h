#pragma once
#include "MqttSettings.h"

#include <QSet>
#include <QString>
#include <functional>
#include <optional>

class MemIniFile;
struct CliOptions;

// serve's publishing: [mqtt] of start.ini, with --mqtt giving the URL and switching it on.
// None when it is off.
std::optional<MqttSettings> ServeMqttSettings(const CliOptions &options, const MemIniFile &settings);
// Checked before polling starts: 0, or the usage exit with the message on stderr.
int CheckServeMqtt(const MqttSettings &mqtt, const MemIniFile &settings);

// Which of a bridge's state changes go to the log: a broker that stays away is retried
// again and again (connecting, failed, with a growing delay), told once until it is
// connected again.
class MqttStateLog {
public:
    bool Tell(int state, bool connected, const QString &text);

private:
    QSet<QString> m_told;
};
