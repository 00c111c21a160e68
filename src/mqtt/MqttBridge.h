#pragma once
#include "MqttSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class MemIniFile;

// One client connection to the broker (libmosquitto) for one controller: its own network
// thread connects, reconnects with back-off (1 s doubling to 60 s) and sends; the caller's
// thread only hands messages over and never waits for the broker, not even for DNS.
// Topics are PREFIX/CONTROLLER/...; the last will is PREFIX/CONTROLLER/status "offline",
// retained. Read-only: the client subscribes to nothing.
class MqttBridge : public QObject {
    Q_OBJECT
public:
    enum class State { Off, Connecting, Connected, Failed };
    Q_ENUM(State)

    // controller: the level under the prefix (a plant name or "addr<N>"), unescaped.
    // clientIdSuffix: appended to the client id ("-" + it) so several bridges of one
    // program (a plant) do not throw each other off the broker.
    MqttBridge(const MqttSettings &settings, const QString &controller,
               const MemIniFile &texts, const QString &clientIdSuffix = {},
               QObject *parent = nullptr);
    // Publishes status "offline", disconnects and ends the thread: at most about 1 s, and
    // at once when the broker is away.
    ~MqttBridge() override;

    // Checks the settings (CheckMqttSettings) and starts the network thread. False, with
    // the message, when a setting is refused; a broker that is away is no failure here
    // (stateChanged tells it).
    bool Start(QString &error);

    QString topic(const QString &sub) const; // "PREFIX/CONTROLLER/" + sub
    QString controllerLevel() const;

    // The latest value of a topic: retained, kept and sent again after every reconnect;
    // sent now when connected. The same payload again is sent again (a refresh).
    void PublishRetained(const QString &topic, const QByteArray &payload);
    // Not retained (events): sent when connected, dropped otherwise.
    void Publish(const QString &topic, const QByteArray &payload);

    State state() const;
    QString stateText() const; // the last state's message in the program's language
    quint64 sentCount() const;    // handed to libmosquitto
    quint64 droppedCount() const; // dropped while the broker was away

signals:
    // On the owner's thread, once per change: connected, connecting (after a failure: the
    // failure's text, e.g. refused login, TLS), failed (a setting refused at Start).
    void stateChanged(MqttBridge::State state, const QString &text);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
