#include "MqttServe.h"

#include "CliOptions.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "MemIniFile.h"

#include <QRegularExpression>

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

bool MqttStateLog::Tell(int state, bool connected, const QString &text) {
    // The retry's delay aside, the same words are the same news.
    QString key = QString::number(state) + u' ' + text;
    key.remove(QRegularExpression(QStringLiteral("[0-9]+ ")));
    if (connected) {
        m_told.clear();
        return true;
    }
    if (m_told.contains(key))
        return false;
    m_told.insert(key);
    return true;
}
