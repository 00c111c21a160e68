#include "MqttFeed.h"
#include "MqttBridge.h"
#include "MqttSettings.h"

#include "DeviceRegisterMap.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "Plant.h"
#include "PlantConfig.h"
#include "PollCycle.h"
#include "SensorTags.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <span>

namespace {

constexpr qint64 kRefreshMs = 60000;
constexpr quint16 kUnregistered = 40;

QString IsoUtc(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

// Not registered, no power, faulty, undetermined: the controller's word is no temperature.
// Every other code (the three on-air ones and codes the table does not know) shows the word,
// as the data grid does.
bool CarriesTemperature(quint16 status)
{
    return status != 10 && status != 20 && status != 30 && status != kUnregistered;
}

// Home Assistant takes [A-Za-z0-9_-] in an id; any other byte is spelled as hex so that two
// names never meet in one id.
QString AsciiId(const QString &text)
{
    QString out;
    for (char c : text.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '-')
            out += QLatin1Char(char(b));
        else
            out += QStringLiteral("_%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

namespace {

// JSON string contents: the few characters JSON escapes, the rest as UTF-8.
void AppendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (char c : text.toUtf8()) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[b >> 4];
            out += hex[b & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Written by hand: 36 of these a cycle through QJsonDocument cost more than the rest of
// the feed together.
QByteArray SensorPayload(const MqttSensorValue &v, const QByteArray &ts)
{
    QByteArray out;
    out.reserve(96 + v.state.size() * 2 + v.tag.size() * 2);
    out += "{\"t\":";
    if (!v.celsius)
        out += "null";
    else if (*v.celsius == std::floor(*v.celsius) && std::abs(*v.celsius) < 1e9)
        out += QByteArray::number(qint64(*v.celsius));
    else
        out += QByteArray::number(*v.celsius, 'g', 10);
    out += ",\"status\":";
    out += QByteArray::number(v.status);
    out += ",\"state\":";
    AppendJsonString(out, v.state);
    out += ",\"seconds\":";
    out += QByteArray::number(v.seconds);
    out += ",\"tag\":";
    AppendJsonString(out, v.tag);
    out += ",\"ts\":\"";
    out += ts;
    out += "\"}";
    return out;
}

} // namespace

QByteArray MqttSensorPayload(const MqttSensorValue &v)
{
    return SensorPayload(v, IsoUtc(v.timeMs).toLatin1());
}

struct MqttFeed::Impl {
    MqttFeed *q;
    MqttBridge &bridge;
    MqttSettings settings;
    std::function<qint64()> now;

    MainState *state = nullptr;
    PollCycle *cycle = nullptr;
    QPointer<HistoryService> history;
    QMetaObject::Connection eventConnection;
    struct Hooks {
        int sensors = 0, relays = 0, wanted = 0, identified = 0, linkLost = 0, tags = 0;
    } hooks;

    struct Sensor {
        std::vector<quint16> tagWords; // the tag as last decoded
        QString tagText;
        bool sent = false;
        quint16 status = 0, temperature = 0;
        QString tag;
        qint64 atMs = 0;
        bool configured = false; // its discovery config stands on the broker
        QString configName;
    };
    std::vector<Sensor> sensors;
    std::vector<int> relays; // -1: not sent yet
    std::vector<qint64> relayAtMs;
    // The tags are on their way: Home Assistant would first learn the sensors as
    // "Sensor N" and rename them a step later.
    bool tagsPending = false;
    std::optional<SensorStatusTexts> statusText; // of the language at the identification
    int online = -1; // the status last published: -1 none, 0 offline, 1 online
    qint64 lastLiveMs = 0;
    qint64 liveMs = 10000;

    // Topic names are made once per sensor: they do not change while a bridge lives.
    std::vector<QString> sensorTopics, relayTopics;
    QString statusTopic, eventTopic;

    Impl(MqttFeed *feed, MqttBridge &b, const MqttSettings &s, std::function<qint64()> clock)
        : q(feed), bridge(b), settings(s), now(std::move(clock))
    {
        statusTopic = bridge.topic(QStringLiteral("status"));
        eventTopic = bridge.topic(QStringLiteral("event"));
    }

    const QString &sensorTopic(int i)
    {
        while (int(sensorTopics.size()) <= i)
            sensorTopics.push_back(
                bridge.topic(QStringLiteral("sensor/%1").arg(sensorTopics.size() + 1)));
        return sensorTopics[size_t(i)];
    }
    const QString &relayTopic(int i)
    {
        while (int(relayTopics.size()) <= i)
            relayTopics.push_back(
                bridge.topic(QStringLiteral("relay/%1").arg(relayTopics.size() + 1)));
        return relayTopics[size_t(i)];
    }

    void setOnline(bool up)
    {
        if (online == int(up))
            return;
        online = int(up);
        bridge.PublishRetained(statusTopic, up ? QByteArrayLiteral("online")
                                               : QByteArrayLiteral("offline"));
    }

    // Decoded again only when its words changed: a cycle would otherwise decode 36 tags.
    const QString &tagOf(int i, Sensor &s) const
    {
        const auto &tags = cycle->sensorTagRecords;
        if (size_t(i) >= tags.size() || tags[size_t(i)].registerCount == 0) {
            s.tagWords.clear();
            s.tagText.clear();
        } else {
            const auto &record = tags[size_t(i)];
            const auto words = std::span(record.values).first(
                std::min<size_t>(record.registerCount, record.values.size()));
            if (!std::equal(words.begin(), words.end(), s.tagWords.begin(), s.tagWords.end())) {
                s.tagWords.assign(words.begin(), words.end());
                s.tagText =
                    SensorTagText(words, state->registerMap.QOR_SENSOR_TAG_SIZE).trimmed();
            }
        }
        return s.tagText;
    }

    QString uniqueId(int sensor) const
    {
        return AsciiId(settings.prefix + u'_' + bridge.controllerLevel()) +
               QStringLiteral("_sensor%1").arg(sensor);
    }

    QString configTopic(int sensor) const
    {
        return settings.discoveryPrefix + QStringLiteral("/sensor/") + uniqueId(sensor) +
               QStringLiteral("/config");
    }

    QByteArray config(int sensor, const QString &name) const
    {
        const QString controller = bridge.controllerLevel();
        QJsonObject device{
            {"identifiers", QJsonArray{AsciiId(settings.prefix + u'_' + controller)}},
            {"name", controller},
            {"model", QStringLiteral("QOR7070")},
            {"manufacturer", QStringLiteral("Velmaris")}};
        QJsonObject o{{"name", name},
                      {"unique_id", uniqueId(sensor)},
                      {"state_topic", bridge.topic(QStringLiteral("sensor/%1").arg(sensor))},
                      {"value_template", QStringLiteral("{{ value_json.t }}")},
                      {"unit_of_measurement", QStringLiteral("°C")},
                      {"device_class", QStringLiteral("temperature")},
                      {"state_class", QStringLiteral("measurement")},
                      {"availability_topic", statusTopic},
                      {"payload_available", QStringLiteral("online")},
                      {"payload_not_available", QStringLiteral("offline")},
                      {"device", device}};
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    }

    void discover(int i, Sensor &s, quint16 status, const QString &tag)
    {
        if (!settings.discovery || tagsPending)
            return;
        const int sensor = i + 1;
        if (status == kUnregistered) {
            if (s.configured) {
                // An empty retained config takes the entity out of Home Assistant.
                bridge.PublishRetained(configTopic(sensor), QByteArray());
                s.configured = false;
            }
            return;
        }
        const QString name = tag.isEmpty() ? QStringLiteral("Sensor %1").arg(sensor) : tag;
        if (s.configured && s.configName == name)
            return;
        bridge.PublishRetained(configTopic(sensor), config(sensor, name));
        s.configured = true;
        s.configName = name;
    }

    void sensorDataRead()
    {
        const qint64 t = now();
        lastLiveMs = t;
        setOnline(true);
        const auto &status = cycle->statusRecord.values;
        const auto &temperature = cycle->temperatureRecord.values;
        const auto &elapsed = cycle->timeElapsedRecord.values;
        const int n = int(std::min({size_t(state->registerMap.MAX_SENSORS), status.size(),
                                    temperature.size(), elapsed.size()}));
        if (int(sensors.size()) < n)
            sensors.resize(size_t(n));
        if (!statusText)
            statusText.emplace(*state);
        QByteArray ts;
        for (int i = 0; i < n; ++i) {
            Sensor &s = sensors[size_t(i)];
            const quint16 code = status[size_t(i)];
            const quint16 word = temperature[size_t(i)];
            const QString &tag = tagOf(i, s);
            const bool hasT = CarriesTemperature(code);
            const bool changed = !s.sent || s.status != code || s.tag != tag ||
                                 (hasT && s.temperature != word);
            discover(i, s, code, tag);
            if (!changed && t - s.atMs < kRefreshMs && t >= s.atMs)
                continue;
            MqttSensorValue v;
            if (hasT)
                v.celsius = double(word);
            v.status = code;
            v.state = (*statusText)(code);
            v.seconds = elapsed[size_t(i)];
            v.tag = tag;
            v.timeMs = t;
            if (ts.isEmpty())
                ts = IsoUtc(t).toLatin1();
            bridge.PublishRetained(sensorTopic(i), SensorPayload(v, ts));
            s.sent = true;
            s.status = code;
            s.temperature = word;
            s.tag = tag;
            s.atMs = t;
        }
    }

    void relayStateRead()
    {
        const qint64 t = now();
        const int n = std::min(int(state->registerMap.RELAY_NUMBER), 16);
        if (int(relays.size()) < n) {
            relays.resize(size_t(n), -1);
            relayAtMs.resize(size_t(n), 0);
        }
        for (int r = 0; r < n; ++r) {
            const int on = (state->relayStateWord >> r) & 1;
            if (relays[size_t(r)] == on && t - relayAtMs[size_t(r)] < kRefreshMs &&
                t >= relayAtMs[size_t(r)])
                continue;
            bridge.PublishRetained(relayTopic(r), on ? QByteArrayLiteral("1") : QByteArrayLiteral("0"));
            relays[size_t(r)] = on;
            relayAtMs[size_t(r)] = t;
        }
    }

    void identified(quint16 firmware)
    {
        setOnline(true);
        statusText.reset(); // a language switch identifies the controller again
        // Another controller (or the same after a loss) may have other sensors and tags.
        for (Sensor &s : sensors)
            s.sent = false;
        std::fill(relays.begin(), relays.end(), -1);
        if (firmware >= kFirstTagFirmware)
            state->readAllTagsRequested = tagsPending = true;
    }

    bool liveWanted() const
    {
        if (!state->linkUp)
            return false;
        const qint64 t = now();
        return t - lastLiveMs >= liveMs || t < lastLiveMs;
    }

    void event(const HistoryEvent &e, const QString &text)
    {
        QJsonObject o{{"time", IsoUtc(e.timeMs)},
                      {"kind", QString::fromLatin1(HistoryEventKindKey(e.kind))},
                      {"subject", e.subject},
                      {"code", e.code},
                      {"previous", e.previous < 0 ? QJsonValue(QJsonValue::Null)
                                                  : QJsonValue(e.previous)},
                      {"text", text},
                      {"alarm", e.alarm}};
        bridge.Publish(eventTopic, QJsonDocument(o).toJson(QJsonDocument::Compact));
    }

    void follow(MainState &st, PollCycle &c, HistoryService *h)
    {
        unfollow();
        statusText.reset();
        state = &st;
        cycle = &c;
        history = h;
        liveMs = qint64(qMax(1, HistoryLimitsFrom(st.settingsIni).liveSeconds)) * 1000;
        lastLiveMs = 0;
        hooks.sensors = c.sensorDataRead.Listen([this] { sensorDataRead(); });
        hooks.relays = c.relayStateRead.Listen([this] { relayStateRead(); });
        hooks.wanted = c.liveDataWanted.Listen([this] { return liveWanted(); });
        hooks.identified =
            c.controllerIdentified.Listen([this](quint16, quint16 fw) { identified(fw); });
        hooks.linkLost = st.linkLost.Listen([this](const QString &) { setOnline(false); });
        hooks.tags = c.allTagsRead.Listen([this] { tagsPending = false; });
        if (h)
            eventConnection = QObject::connect(
                h, &HistoryService::eventSubmitted, q,
                [this](const HistoryEvent &e, const QString &text) { event(e, text); });
        setOnline(st.linkUp);
        tagsPending = false;
        if (st.linkUp && st.firmwareVersion >= kFirstTagFirmware)
            st.readAllTagsRequested = tagsPending = true;
    }

    void unfollow()
    {
        if (!cycle)
            return;
        cycle->sensorDataRead.Unlisten(hooks.sensors);
        cycle->relayStateRead.Unlisten(hooks.relays);
        cycle->liveDataWanted.Unlisten(hooks.wanted);
        cycle->controllerIdentified.Unlisten(hooks.identified);
        state->linkLost.Unlisten(hooks.linkLost);
        cycle->allTagsRead.Unlisten(hooks.tags);
        QObject::disconnect(eventConnection);
        cycle = nullptr;
        state = nullptr;
        history = nullptr;
    }
};

MqttFeed::MqttFeed(MqttBridge &bridge, const MqttSettings &settings, QObject *parent)
    : MqttFeed(bridge, settings, [] { return QDateTime::currentMSecsSinceEpoch(); }, parent)
{
}

MqttFeed::MqttFeed(MqttBridge &bridge, const MqttSettings &settings,
                   std::function<qint64()> nowMs, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(this, bridge, settings, std::move(nowMs)))
{
}

MqttFeed::~MqttFeed()
{
    d->unfollow();
}

void MqttFeed::Follow(MainState &state, PollCycle &cycle, HistoryService *history)
{
    d->follow(state, cycle, history);
}

void MqttFeed::Unfollow()
{
    d->unfollow();
}

// ---------------------------------------------------------------------------------------

struct MqttPlantFeeds::Impl {
    Plant &plant;
    MqttSettings settings;
    struct One {
        std::unique_ptr<MqttBridge> bridge;
        std::unique_ptr<MqttFeed> feed;
    };
    std::vector<One> ones;
    Impl(Plant &p, const MqttSettings &s) : plant(p), settings(s) {}
};

MqttPlantFeeds::MqttPlantFeeds(Plant &plant, const MqttSettings &settings, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(plant, settings))
{
}

MqttPlantFeeds::~MqttPlantFeeds()
{
    // Feeds leave their engines' hooks before the bridges say goodbye.
    for (auto &one : d->ones)
        one.feed.reset();
    d->ones.clear();
}

bool MqttPlantFeeds::Start(QString &error)
{
    if (!d->ones.empty())
        return true;
    if (!CheckMqttSettings(d->settings, d->plant.settings(), error))
        return false;
    std::vector<Impl::One> ones;
    for (int i = 0; i < d->plant.size(); ++i) {
        PlantController &pc = d->plant.controller(i);
        const QString name = pc.entry().name;
        Impl::One one;
        one.bridge = std::make_unique<MqttBridge>(d->settings, MqttTopicLevel(name),
                                                  d->plant.settings(), name);
        one.feed = std::make_unique<MqttFeed>(*one.bridge, d->settings);
        connect(one.bridge.get(), &MqttBridge::stateChanged, this,
                [this, i](MqttBridge::State s, const QString &text) {
                    emit stateChanged(i, int(s), text);
                });
        MqttFeed *feed = one.feed.get();
        connect(&pc, &PlantController::engineSwitched, feed,
                [feed, &pc](MainState &, PollCycle &) {
                    // The old engine still lives: its hooks are left before the new one's
                    // are taken.
                    feed->Follow(pc.state(), pc.cycle(), pc.history());
                });
        ones.push_back(std::move(one));
    }
    for (size_t i = 0; i < ones.size(); ++i) {
        if (!ones[i].bridge->Start(error))
            return false;
        PlantController &pc = d->plant.controller(int(i));
        ones[i].feed->Follow(pc.state(), pc.cycle(), pc.history());
    }
    d->ones = std::move(ones);
    return true;
}

int MqttPlantFeeds::size() const
{
    return int(d->ones.size());
}

MqttBridge &MqttPlantFeeds::bridge(int i)
{
    return *d->ones[size_t(i)].bridge;
}
