#pragma once
#include "MqttSettings.h"

#include <QString>
#include <functional>
#include <optional>

class MemIniFile;
class MqttBridge;
struct CliOptions;

// serve's publishing: [mqtt] of start.ini, with --mqtt giving the URL and switching it on.
// None when it is off.
std::optional<MqttSettings> ServeMqttSettings(const CliOptions &options, const MemIniFile &settings);
// Checked before polling starts: 0, or the usage exit with the message on stderr.
int CheckServeMqtt(const MqttSettings &mqtt, const MemIniFile &settings);
// Each change of the broker's state once, as a log line (name first, for a plant).
void LogMqttStates(MqttBridge &bridge, const QString &name,
                   std::function<void(const QString &)> line);
