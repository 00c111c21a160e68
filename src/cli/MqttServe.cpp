#include "MqttServe.h"

#include "CliOptions.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "MemIniFile.h"
#include "MqttBridge.h"

#include <QRegularExpression>
#include <memory>

std::optional<MqttSettings> ServeMqttSettings(const CliOptions &o, const MemIniFile &settings) {
    MqttSettings s = MqttSettingsFrom(settings);
    if (!o.mqtt.isEmpty()) {
        s.url = o.mqtt;
        s.enabled = true;
    }
    if (!s.enabled)
        return std::nullopt;
    return s;
}

int CheckServeMqtt(const MqttSettings &mqtt, const MemIniFile &settings) {
    QString error;
    if (CheckMqttSettings(mqtt, settings, error))
        return ExitCode::Ok;
    NoteFailure(ErrorKey::Usage, error);
    PrintErr(error);
    return ExitCode::Usage;
}

void LogMqttStates(MqttBridge &bridge, const QString &name,
                   std::function<void(const QString &)> line) {
    // A broker that stays away is retried with the same words and a growing delay: told
    // once until something else happens.
    auto last = std::make_shared<QString>();
    QObject::connect(&bridge, &MqttBridge::stateChanged, &bridge,
                     [last, name, line](MqttBridge::State state, const QString &text) {
                         QString key = QString::number(int(state)) + u' ' + text;
                         key.remove(QRegularExpression(QStringLiteral("[0-9]+")));
                         if (key == *last)
                             return;
                         *last = key;
                         line(name.isEmpty() ? text : name + QStringLiteral(": ") + text);
                     });
}
