#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class HistoryService;
class MainState;
class MqttBridge;
class Plant;
struct MqttSettings;
class PollCycle;

// One sensor as published on PREFIX/CONTROLLER/sensor/<n>.
struct MqttSensorValue {
    std::optional<double> celsius; // null where the state carries no temperature
    int status = 0;                // the controller's code
    QString state;                 // its text in the program's language
    int seconds = 0;               // since the sensor was last heard
    QString tag;
    qint64 timeMs = 0;             // UTC ms of the read
};
// {"t":21.5,"status":1,"state":"...","seconds":12,"tag":"...","ts":"2026-12-09T15:04:05.123Z"}
QByteArray MqttSensorPayload(const MqttSensorValue &v);

// What one engine reads, onto its bridge: status online/offline with the link; every
// sensor's JSON when it changed (temperature, status or tag) and at least every 60 s;
// relays "0"/"1" when switched (and with the sensors' minute); every history event as
// JSON on "event"; Home Assistant discovery configs for the registered sensors. Asks for
// live data every [history] live seconds on pages that do not read it. Never writes to
// the controller.
class MqttFeed : public QObject {
    Q_OBJECT
public:
    MqttFeed(MqttBridge &bridge, const MqttSettings &settings, QObject *parent = nullptr);
    // With the clock of ts and the 60-s refresh (UTC ms): tests give their own.
    MqttFeed(MqttBridge &bridge, const MqttSettings &settings, std::function<qint64()> nowMs,
             QObject *parent = nullptr);
    ~MqttFeed() override;

    // The engine to follow (history may be null: no events then); the one before is left.
    void Follow(MainState &state, PollCycle &cycle, HistoryService *history);
    void Unfollow();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A bridge and a feed for every controller of a plant, each following its controller's
// engine through windows attached and released. CONTROLLER is the plant name; client ids
// get the name as suffix.
class MqttPlantFeeds : public QObject {
    Q_OBJECT
public:
    MqttPlantFeeds(Plant &plant, const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttPlantFeeds() override;
    // After plant.Start. False with the first refused setting's message (nothing started).
    bool Start(QString &error);
    int size() const;
    MqttBridge &bridge(int i);

signals:
    void stateChanged(int index, int state, const QString &text);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
