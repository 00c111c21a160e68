#pragma once
#include <QString>

class MemIniFile;

// start.ini [mqtt]: where the readings go. The password never lives here: only the path of
// a file holding it, which must not be readable by others.
struct MqttSettings {
    bool enabled = false;
    QString url;           // mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883)
    QString caFile;        // mqtts: the CA certificate the broker's is checked against
    QString clientId;      // empty: "velmaris-<host name>-<pid>"
    QString user;          // empty: no login
    QString passwordFile;  // the password, first line; needed with a user
    QString prefix = QStringLiteral("velmaris");
    int qos = 1;           // 0, 1 or 2
    bool discovery = true; // Home Assistant discovery configs
    QString discoveryPrefix = QStringLiteral("homeassistant");
    int keepAliveSeconds = 30;
    bool operator==(const MqttSettings &) const = default;
};

struct MqttEndpoint {
    QString host;
    int port = 1883;
    bool tls = false;
};

MqttSettings MqttSettingsFrom(const MemIniFile &ini);
// Into the in-memory ini; the caller saves it.
void StoreMqttSettings(MemIniFile &ini, const MqttSettings &s);

// Each check fails with a message in the program's language (texts from `texts`).
bool ParseMqttUrl(const QString &url, MqttEndpoint &out, const MemIniFile &texts,
                  QString &error);
// The first line of the file, without its line end. Refused when the file is missing,
// unreadable, empty, or readable or writable by group or others (POSIX; on Windows the
// folder's ACL is the user's business).
bool ReadPasswordFile(const QString &path, QString &password, const MemIniFile &texts,
                      QString &error);
// Every check Start would make (URL, QoS, prefix, CA file, password file), without
// connecting: the dialog's OK and serve's start refuse with the message.
bool CheckMqttSettings(const MqttSettings &s, const MemIniFile &texts, QString &error);

// A name as one topic level: '/', '+', '#' and control characters become '_'; an empty
// name "_".
QString MqttTopicLevel(const QString &name);
// The controller's level without a plant: "addr<N>".
QString MqttAddressLevel(int address);
