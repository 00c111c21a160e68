#include "HistoryService.h"

#include "HistoryStore.h"
#include "HistoryTexts.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "PollCycle.h"

#include <QDateTime>
#include <QRegularExpression>
#include <algorithm>

namespace {

constexpr qint64 kKeepEveryMs = 60000; // a flat line still shows the cycle was alive
constexpr quint16 kUnregistered = 40;
const QString kSection = QStringLiteral("history");

bool KnownStatus(int code) {
    return code == 0 || code == 1 || code == 2 || code == 10 || code == 20 || code == 30 ||
           code == 40;
}

QString StatusText(int code, const MemIniFile &settings) {
    switch (code) {
    case 0:
        return LookupText(settings, Msg::n104);
    case 1:
        return LookupText(settings, Msg::n105);
    case 2:
        return LookupText(settings, Msg::n106);
    case 10:
        return LookupText(settings, Msg::n107);
    case 20:
        return LookupText(settings, Msg::n108);
    case 30:
        return LookupText(settings, Msg::n109);
    case 40:
        return LookupText(settings, Msg::n110);
    default:
        return QStringLiteral("-------");
    }
}

QString OperationName(const WriteReport &r) {
    if (r.fromProfile)
        return QStringLiteral("profile");
    switch (r.operation) {
    case WriteReport::Operation::Sensors:
        return QStringLiteral("sensors");
    case WriteReport::Operation::Relays:
        return QStringLiteral("relays");
    case WriteReport::Operation::Connection:
        return QStringLiteral("connection");
    }
    return {};
}

WriteResult ResultOf(WriteReport::Result r) {
    switch (r) {
    case WriteReport::Result::Confirmed:
        return WriteResult::Confirmed;
    case WriteReport::Result::Failed:
        return WriteResult::Failed;
    case WriteReport::Result::NotSent:
        break;
    }
    return WriteResult::NotSent;
}

} // namespace

bool HistoryAlarmRules::IsAlarm(const HistoryEvent &e) const {
    switch (e.kind) {
    case EventKind::SensorStatus:
        return std::find(statusCodes.begin(), statusCodes.end(), e.code) != statusCodes.end() ||
               (unknownStatus && !KnownStatus(e.code));
    case EventKind::LinkDownLong:
        return linkLost;
    case EventKind::RelaySwitched:
        return relayOn && e.code == 1;
    default:
        return false;
    }
}

HistoryAlarmRules HistoryAlarmRulesFrom(const MemIniFile &settings) {
    HistoryAlarmRules rules;
    rules.linkAlarmSeconds = qMax(
        0, settings.readInteger(kSection, QStringLiteral("linkalarm"), rules.linkAlarmSeconds));
    if (!settings.valueExists(kSection, QStringLiteral("alarms")))
        return rules;
    rules.statusCodes.clear();
    rules.linkLost = false;
    static const QRegularExpression separators(QStringLiteral("[\\s,;]+"));
    const QStringList words = settings.readString(kSection, QStringLiteral("alarms"), {})
                                  .toLower()
                                  .split(separators, Qt::SkipEmptyParts);
    for (const QString &w : words) {
        bool number = false;
        const int code = w.toInt(&number);
        if (number && code >= 0 && code <= 0xFFFF)
            rules.statusCodes.push_back(code);
        else if (w == QLatin1String("unknown"))
            rules.unknownStatus = true;
        else if (w == QLatin1String("link"))
            rules.linkLost = true;
        else if (w == QLatin1String("relay"))
            rules.relayOn = true;
    }
    return rules;
}

struct HistoryService::Impl {
    HistoryService &q;
    HistoryStore &store;
    MainState &state;
    PollCycle &cycle;
    std::function<qint64()> clock;
    bool programEvents = true;
    // controllerAlarms, counted again after the store's alarms changed or another
    // controller was identified.
    int ownCount = 0;
    int ownCountFor = -1;
    HistoryAlarmRules rules;
    qint64 liveMs = 10000;

    struct Hooks {
        int liveRead = 0, wanted = 0, relays = 0, identified = 0, writes = 0, stepEnd = 0,
            linkLost = 0;
    } hooks;

    // The controller the rows belong to, as identified and as the settings reach it.
    bool identified = false;
    quint16 deviceCode = 0;
    QString firmware;
    HistoryController controller;
    mutable int controllerId = 0;

    struct Sensor {
        int status = -1; // last known; -1 never seen
        int temperature = -1;
        qint64 keptMs = 0;
        bool kept = false; // a row kept since the start or since the link came back
    };
    struct Relay {
        int on = -1;
        qint64 keptMs = 0;
        bool kept = false;
    };
    std::vector<Sensor> sensors;
    std::vector<Relay> relays;

    bool linkDown = false;
    bool downByUser = false;
    bool longRaised = false;
    qint64 linkLostMs = 0;
    QString linkText;
    qint64 lastLiveMs = 0;

    HistoryBatch batch;
    int unacknowledged = 0;
    QString latestAlarm;

    Impl(HistoryService &service, HistoryStore &s, MainState &st, PollCycle &c)
        : q(service), store(s), state(st), cycle(c) {}

    qint64 now() const { return clock(); }

    HistoryController currentController() const {
        HistoryController c;
        c.deviceCode = deviceCode;
        c.address =
            state.settingsIni.readInteger(QStringLiteral("connect"), QStringLiteral("adr"), 100);
        c.port = state.settingsIni.readString(QStringLiteral("connect"), QStringLiteral("port"), {})
                     .trimmed();
        c.firmware = firmware;
        return c;
    }

    int findControllerId(const HistoryController &c) const { return store.ControllerId(c); }

    // Another controller. After an identification what is known of it comes from the
    // store, so the first readings after a start count as changes only where they differ
    // from what was kept last. Without one (a connection write moved the controller to
    // another address, the port setting changed under a running link) it is the same
    // device under another name: what is known stays, and its rows start afresh.
    bool followController(bool identification = false) {
        const HistoryController c = currentController();
        if (identified && c == controller)
            return false;
        submit(); // what was gathered belongs to the one before
        const bool sameDevice = identified && !identification;
        controller = c;
        identified = true;
        controllerId = findControllerId(c);
        if (sameDevice) {
            for (Sensor &s : sensors)
                s.kept = false;
            for (Relay &r : relays)
                r.kept = false;
            return true;
        }
        sensors.assign(size_t(qMax(0, int(state.registerMap.MAX_SENSORS))), Sensor{});
        relays.assign(size_t(qMax(0, int(state.registerMap.RELAY_NUMBER))), Relay{});
        if (controllerId > 0) {
            const qint64 t = now();
            for (const SensorSeries &s : store.SensorReadings(controllerId, t, t))
                if (s.sensor >= 1 && size_t(s.sensor) <= sensors.size() && !s.status.empty())
                    sensors[size_t(s.sensor - 1)].status = s.status.back();
            for (const RelaySeries &r : store.RelayReadings(controllerId, t, t))
                if (r.relay >= 1 && size_t(r.relay) <= relays.size() && !r.on.empty())
                    relays[size_t(r.relay - 1)].on = r.on.back() ? 1 : 0;
        }
        return true;
    }

    void addEvent(EventKind kind, int subject = 0, int code = 0, int previous = -1,
                  const QString &text = {}) {
        HistoryEvent e;
        e.timeMs = now();
        e.kind = kind;
        e.subject = subject;
        e.code = code;
        e.previous = previous;
        e.text = text;
        e.alarm = rules.IsAlarm(e);
        batch.events.push_back(std::move(e));
    }

    // One batch per step; the store writes it on its own thread.
    void submit() {
        if (batch.sensors.empty() && batch.relays.empty() && batch.events.empty() &&
            batch.writes.empty())
            return;
        HistoryBatch b = std::move(batch);
        batch = HistoryBatch{};
        b.controller = controller;
        b.timeMs = now();
        std::vector<HistoryEvent> alarms;
        for (const HistoryEvent &e : b.events)
            if (e.alarm)
                alarms.push_back(e);
        for (HistoryEvent e : b.events) {
            e.controller = controllerId;
            emit q.eventSubmitted(e, HistoryEventText(e, state.settingsIni));
        }
        store.Submit(std::move(b));
        for (const HistoryEvent &e : alarms)
            raised(e);
    }

    void raised(const HistoryEvent &e) {
        const QString text = HistoryEventText(e, state.settingsIni);
        latestAlarm = alarmLine(e, text);
        // The count follows the store (alarmsChanged once the batch is written): several
        // engines may share it, and acknowledging goes through it.
        emit q.alarmRaised(e, text);
    }

    QString alarmLine(const HistoryEvent &e, const QString &text) const {
        const QString time = QDateTime::fromMSecsSinceEpoch(e.timeMs).toLocalTime().toString(
            QStringLiteral("HH:mm:ss"));
        return LookupText(state.settingsIni, Msg::n579) + time + QStringLiteral(": ") + text;
    }

    void refreshAlarms(int count) {
        unacknowledged = count;
        ownCountFor = -1;
        EventFilter f;
        f.alarmsOnly = true;
        f.unacknowledgedOnly = true;
        f.limit = 1;
        const std::vector<HistoryEvent> waiting =
            count > 0 ? store.Events(f) : std::vector<HistoryEvent>{};
        latestAlarm =
            waiting.empty()
                ? QString()
                : alarmLine(waiting.front(), HistoryEventText(waiting.front(), state.settingsIni));
    }

    // Hooks.
    void identifiedController(quint16 code) {
        deviceCode = code;
        firmware = state.firmwareVersionText;
        const bool first = !identified;
        const bool other = followController(true);
        if (linkDown) {
            linkDown = false;
            addEvent(EventKind::LinkBack);
            emit q.linkChanged(true, {});
            for (Sensor &s : sensors)
                s.kept = false; // the first readings after the gap are kept
            for (Relay &r : relays)
                r.kept = false;
        }
        if (first || other)
            addEvent(EventKind::Identified, 0, code, -1,
                     QStringLiteral("FW ") + state.firmwareVersionText + QStringLiteral(" HW ") +
                         state.hardwareVersionText);
    }

    void liveDataRead() {
        if (!identified)
            return;
        followController();
        const DeviceRegisterMap &m = state.registerMap;
        const size_t n =
            std::min(size_t(qMax(0, int(m.MAX_SENSORS))), cycle.statusRecord.values.size());
        if (sensors.size() < n)
            sensors.resize(n);
        const qint64 t = now();
        lastLiveMs = t;
        for (size_t i = 0; i < n; ++i) {
            const quint16 status = cycle.statusRecord.values[i];
            const quint16 temperature = cycle.temperatureRecord.values[i];
            Sensor &s = sensors[i];
            const bool statusChanged = s.status != int(status);
            // An empty slot seen for the first time is no news.
            if (statusChanged && !(s.status < 0 && status == kUnregistered))
                addEvent(EventKind::SensorStatus, int(i + 1), status, s.status);
            const bool due = t - s.keptMs >= kKeepEveryMs || t < s.keptMs;
            const bool keep =
                statusChanged || !s.kept ||
                (status != kUnregistered && (s.temperature != int(temperature) || due));
            if (keep) {
                batch.sensors.push_back(
                    {int(i + 1), status, temperature, cycle.timeElapsedRecord.values[i]});
                s.kept = true;
                s.keptMs = t;
            }
            s.status = status;
            s.temperature = temperature;
        }
    }

    void relayStateRead() {
        if (!identified)
            return;
        followController();
        const int n = qMin(int(state.registerMap.RELAY_NUMBER), 16);
        if (int(relays.size()) < n)
            relays.resize(size_t(n));
        const qint64 t = now();
        for (int r = 0; r < n; ++r) {
            const int on = (state.relayStateWord >> r) & 1;
            Relay &x = relays[size_t(r)];
            const bool changed = x.on != on;
            if (changed && x.on >= 0)
                addEvent(EventKind::RelaySwitched, r + 1, on, x.on);
            if (changed || !x.kept || t - x.keptMs >= kKeepEveryMs || t < x.keptMs) {
                batch.relays.push_back({r + 1, on == 1});
                x.kept = true;
                x.keptMs = t;
            }
            x.on = on;
        }
    }

    void writeReported(const WriteReport &r) {
        WriteAudit a;
        a.timeMs = now();
        a.operation = OperationName(r);
        a.ok = r.ok;
        a.registers.reserve(r.registers.size());
        for (const WriteReport::Register &x : r.registers)
            a.registers.push_back({x.reg, x.before, x.after, ResultOf(x.result)});
        batch.writes.push_back(std::move(a));
    }

    void linkLost(const QString &text) {
        if (!identified || linkDown)
            return;
        linkDown = true;
        downByUser = state.linkInterruptedByUser;
        longRaised = false;
        linkLostMs = now();
        linkText = text;
        addEvent(EventKind::LinkLost, 0, 0, -1, text);
        emit q.linkChanged(false, text);
    }

    void stepEnded() {
        const qint64 t = now();
        // Stopped by the user, even after it was lost: nobody is to be alarmed.
        downByUser = downByUser || state.linkInterruptedByUser;
        if (linkDown && !downByUser && !longRaised &&
            t - linkLostMs >= rules.linkAlarmSeconds * 1000LL) {
            longRaised = true;
            addEvent(EventKind::LinkDownLong, 0, rules.linkAlarmSeconds, -1, linkText);
        }
        submit();
    }

    bool liveWanted() const {
        const qint64 t = now();
        return identified && (t - lastLiveMs >= liveMs || t < lastLiveMs);
    }
};

HistoryService::HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle,
                               QObject *parent)
    : HistoryService(
          store, state, cycle, [] { return QDateTime::currentMSecsSinceEpoch(); }, parent) {}

HistoryService::HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle,
                               ProgramEvents program, QObject *parent)
    : HistoryService(store, state, cycle, [] { return QDateTime::currentMSecsSinceEpoch(); },
                     parent, program) {}

void HistoryService::TellProgram(HistoryStore &store, EventKind kind) {
    // The program's own events belong to no controller.
    HistoryBatch b;
    b.timeMs = QDateTime::currentMSecsSinceEpoch();
    HistoryEvent e;
    e.timeMs = b.timeMs;
    e.kind = kind;
    b.events.push_back(e);
    store.Submit(std::move(b));
}

HistoryService::HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle,
                               std::function<qint64()> nowMs, QObject *parent,
                               ProgramEvents program)
    : QObject(parent), m_store(store), d(std::make_unique<Impl>(*this, store, state, cycle)) {
    d->clock = std::move(nowMs);
    d->programEvents = program == ProgramEvents::Told;
    d->rules = HistoryAlarmRulesFrom(state.settingsIni);
    d->liveMs = qint64(qMax(1, HistoryLimitsFrom(state.settingsIni).liveSeconds)) * 1000;
    d->refreshAlarms(store.UnacknowledgedAlarms());
    Impl &i = *d;
    d->hooks.liveRead = cycle.liveDataRead.Listen([&i] { i.liveDataRead(); });
    d->hooks.wanted = cycle.liveDataWanted.Listen([&i] { return i.liveWanted(); });
    d->hooks.relays = cycle.relayStateRead.Listen([&i] { i.relayStateRead(); });
    d->hooks.identified = cycle.controllerIdentified.Listen(
        [&i](quint16 code, quint16) { i.identifiedController(code); });
    d->hooks.writes =
        cycle.writeReported.Listen([&i](const WriteReport &r) { i.writeReported(r); });
    d->hooks.stepEnd = cycle.stepEnded.Listen([&i] { i.stepEnded(); });
    d->hooks.linkLost = state.linkLost.Listen([&i](const QString &text) { i.linkLost(text); });
    connect(&store, &HistoryStore::alarmsChanged, this, [this](int count) {
        d->refreshAlarms(count);
        emit alarmsChanged(count);
    });
    if (!d->programEvents)
        return;
    // The program's own events belong to no controller.
    HistoryBatch started;
    started.timeMs = d->now();
    HistoryEvent e;
    e.timeMs = started.timeMs;
    e.kind = EventKind::ProgramStarted;
    started.events.push_back(e);
    store.Submit(std::move(started));
}

HistoryService::~HistoryService() {
    PollCycle &cycle = d->cycle;
    cycle.liveDataRead.Unlisten(d->hooks.liveRead);
    cycle.liveDataWanted.Unlisten(d->hooks.wanted);
    cycle.relayStateRead.Unlisten(d->hooks.relays);
    cycle.controllerIdentified.Unlisten(d->hooks.identified);
    cycle.writeReported.Unlisten(d->hooks.writes);
    cycle.stepEnded.Unlisten(d->hooks.stepEnd);
    d->state.linkLost.Unlisten(d->hooks.linkLost);
    d->submit();
    if (!d->programEvents)
        return;
    HistoryBatch stopped;
    stopped.timeMs = d->now();
    HistoryEvent e;
    e.timeMs = stopped.timeMs;
    e.kind = EventKind::ProgramStopped;
    stopped.events.push_back(e);
    m_store.Submit(std::move(stopped));
}

int HistoryService::controllerId() const {
    if (d->identified && d->controllerId == 0)
        d->controllerId = d->findControllerId(d->controller);
    return d->controllerId;
}

int HistoryService::unacknowledgedAlarms() const {
    return d->unacknowledged;
}

int HistoryService::controllerAlarms() const {
    const int id = controllerId();
    if (id == 0)
        return 0;
    if (d->ownCountFor != id) {
        d->ownCount = m_store.UnacknowledgedAlarms(id);
        d->ownCountFor = id;
    }
    return d->ownCount;
}

QString HistoryService::latestAlarmText() const {
    return d->latestAlarm;
}

QString HistoryEventText(const HistoryEvent &e, const MemIniFile &settings) {
    auto text = [&settings](const TextKey &key) { return LookupText(settings, key); };
    switch (e.kind) {
    case EventKind::SensorStatus: {
        QString line = text(Msg::n32) + u' ' + QString::number(e.subject) + QStringLiteral(": ") +
                       StatusText(e.code, settings);
        if (e.previous >= 0)
            line += text(Msg::n559) + StatusText(e.previous, settings) + u')';
        return line;
    }
    case EventKind::RelaySwitched:
        return LookupText(settings, "n9", QStringLiteral("Реле")) + u' ' +
               QString::number(e.subject) + text(e.code ? Msg::n557 : Msg::n558);
    case EventKind::LinkLost:
        return text(Msg::n552) + e.text;
    case EventKind::LinkBack:
        return text(Msg::n553);
    case EventKind::LinkDownLong:
        return text(Msg::n554) + QString::number(e.code) + text(Msg::n555) +
               (e.text.isEmpty() ? QString() : QStringLiteral(": ") + e.text);
    case EventKind::Identified:
        return text(Msg::n556) + QString::number(e.code) +
               (e.text.isEmpty() ? QString() : QStringLiteral(", ") + e.text);
    case EventKind::ProgramStarted:
        return text(Msg::n550);
    case EventKind::ProgramStopped:
        return text(Msg::n551);
    case EventKind::WriteOperation: {
        const std::pair<const char *, TextKey> names[] = {{"sensors", Msg::n561},
                                                          {"relays", Msg::n562},
                                                          {"connection", Msg::n563},
                                                          {"profile", Msg::n564}};
        QString what = e.text;
        for (const auto &[name, key] : names)
            if (e.text == QLatin1String(name))
                what = text(key);
        return text(Msg::n560) + what + text(e.code ? Msg::n565 : Msg::n566);
    }
    case EventKind::AlarmAcknowledged:
        return text(e.subject ? Msg::n567 : Msg::n568);
    }
    return {};
}

QString HistoryEventKindText(EventKind kind, const MemIniFile &settings) {
    switch (kind) {
    case EventKind::SensorStatus:
        return LookupText(settings, Msg::n569);
    case EventKind::RelaySwitched:
        return LookupText(settings, Msg::n570);
    case EventKind::LinkLost:
        return LookupText(settings, Msg::n571);
    case EventKind::LinkBack:
        return LookupText(settings, Msg::n578);
    case EventKind::LinkDownLong:
        return LookupText(settings, Msg::n572);
    case EventKind::Identified:
        return LookupText(settings, Msg::n573);
    case EventKind::ProgramStarted:
        return LookupText(settings, Msg::n574);
    case EventKind::ProgramStopped:
        return LookupText(settings, Msg::n575);
    case EventKind::WriteOperation:
        return LookupText(settings, Msg::n576);
    case EventKind::AlarmAcknowledged:
        return LookupText(settings, Msg::n577);
    }
    return {};
}

const char *HistoryEventKindKey(EventKind kind) {
    switch (kind) {
    case EventKind::SensorStatus:
        return "sensor-status";
    case EventKind::RelaySwitched:
        return "relay";
    case EventKind::LinkLost:
        return "link-lost";
    case EventKind::LinkBack:
        return "link-back";
    case EventKind::LinkDownLong:
        return "link-down-long";
    case EventKind::Identified:
        return "identified";
    case EventKind::ProgramStarted:
        return "program-started";
    case EventKind::ProgramStopped:
        return "program-stopped";
    case EventKind::WriteOperation:
        return "write";
    case EventKind::AlarmAcknowledged:
        return "acknowledged";
    }
    return "unknown";
}
