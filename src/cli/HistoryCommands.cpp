// The working folder's history from a script (history, events) and the unattended poll
// that keeps it (serve).
#include "CliTexts.h"
#include "Commands.h"
#include "ExitCodes.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MqttBridge.h"
#include "MqttFeed.h"
#include "MqttServe.h"
#include "Session.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

QString Json(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The working folder's store, opened to be read. A folder that never kept one gets none:
// reading must not leave an empty store behind.
std::unique_ptr<HistoryStore> StoreToRead(const MemIniFile &settings) {
    const QString path =
        QDir::current().absoluteFilePath(QString::fromLatin1(HistoryStore::kFileName));
    if (!QFileInfo::exists(path)) {
        NoteFailure(ErrorKey::FileRefused);
        PrintErr(LookupText(settings, Msg::n623) + QDir::toNativeSeparators(path));
        return nullptr;
    }
    auto store = std::make_unique<HistoryStore>(QDir::currentPath(), HistoryLimitsFrom(settings));
    store->setTexts(&settings);
    if (!store->OpenToRead()) {
        NoteFailure(ErrorKey::FileRefused);
        PrintErr(LookupText(settings, Msg::n626) + QDir::toNativeSeparators(path) +
                 QStringLiteral("  (") + store->problem() + u')');
        return nullptr;
    }
    return store;
}

// The controller --controller names; without it the store's only one. An exit code.
int ChooseController(const HistoryStore &store, const CliOptions &o, const MemIniFile &settings,
                     int *id) {
    const std::vector<HistoryControllerRow> rows = store.Controllers();
    if (o.controller) {
        const bool known = std::any_of(rows.begin(), rows.end(),
                                       [&](const auto &r) { return r.id == *o.controller; });
        if (!known) {
            NoteFailure(ErrorKey::Usage);
            PrintErr(LookupText(settings, Msg::n622) + QString::number(*o.controller));
            return ExitCode::Usage;
        }
        *id = *o.controller;
        return ExitCode::Ok;
    }
    if (rows.empty()) {
        NoteFailure(ErrorKey::FileRefused);
        PrintErr(LookupText(settings, Msg::n630));
        return ExitCode::FileRefused;
    }
    if (rows.size() > 1) {
        NoteFailure(ErrorKey::Usage);
        PrintErr(LookupText(settings, Msg::n621));
        return ExitCode::Usage;
    }
    *id = rows.front().id;
    return ExitCode::Ok;
}

// Raw bytes to stdout: the export's own encoding, not the console's.
bool WriteOut(const QByteArray &bytes) {
    const bool ok =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
    return std::fflush(stdout) == 0 && ok;
}

int ExportReadings(const HistoryStore &store, const CliOptions &o, const MemIniFile &settings) {
    int id = 0;
    if (const int r = ChooseController(store, o, settings, &id))
        return r;
    const qint64 from = *o.fromMs, to = o.toMs.value_or(NowMs());
    // Standard output gets the file's bytes, written first where the export can put them.
    QTemporaryDir scratch;
    const QString path = o.output.isEmpty()
                             ? scratch.filePath(o.trend ? QStringLiteral("export.txt")
                                                        : QStringLiteral("export.csv"))
                             : o.output;
    QString why;
    const bool ok = o.trend ? ExportReadingsTrend(store, id, from, to, settings, path, &why)
                            : ExportReadingsCsv(store, id, from, to, path, &why, &settings);
    if (!ok) { // a range without readings too: there is no file to give
        NoteFailure(ErrorKey::FileRefused);
        PrintErr(LookupText(settings, Msg::n624) +
                 (o.output.isEmpty()
                      ? why
                      : QDir::toNativeSeparators(path) + QStringLiteral("  (") + why + u')'));
        return ExitCode::FileRefused;
    }
    if (!o.output.isEmpty())
        return ExitCode::Ok;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        PrintErr(LookupText(settings, Msg::n624) + f.errorString());
        return ExitCode::FileRefused;
    }
    QByteArray bytes = f.readAll();
    // The byte-order mark tells a spreadsheet the file is UTF-8; in a pipe it would stick
    // to the first column's name.
    if (!o.trend && bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return WriteOut(bytes) ? ExitCode::Ok : ExitCode::FileRefused;
}

int ListControllers(const HistoryStore &store, const CliOptions &o) {
    for (const HistoryControllerRow &r : store.Controllers()) {
        const HistoryController &c = r.controller;
        if (o.json)
            PrintOut(Json({{"id", r.id},
                           {"device", c.deviceCode},
                           {"address", c.address},
                           {"port", c.port},
                           {"firmware", c.firmware}}));
        else
            PrintOut(QStringLiteral("%1\t%2\t%3\t%4\t%5")
                         .arg(r.id)
                         .arg(c.deviceCode)
                         .arg(c.address)
                         .arg(c.port, c.firmware));
    }
    return ExitCode::Ok;
}

} // namespace

int RunHistory(const CliOptions &o, const MemIniFile &settings) {
    const auto store = StoreToRead(settings);
    if (!store)
        return ExitCode::FileRefused;
    if (o.action == QLatin1String("controllers"))
        return ListControllers(*store, o);
    return ExportReadings(*store, o, settings);
}

int RunEvents(const CliOptions &o, const MemIniFile &settings) {
    const auto store = StoreToRead(settings);
    if (!store)
        return ExitCode::FileRefused;
    if (o.controller) {
        int id = 0;
        if (const int r = ChooseController(*store, o, settings, &id))
            return r;
    }
    EventFilter filter;
    filter.fromMs = o.fromMs.value_or(0);
    filter.toMs = o.toMs.value_or(0);
    filter.controller = o.controller.value_or(0);
    filter.alarmsOnly = o.alarms;
    std::vector<HistoryEvent> events = store->Events(filter);
    // The store gives the newest first; a log reads (and a script appends) oldest first.
    std::sort(events.begin(), events.end(), [](const HistoryEvent &a, const HistoryEvent &b) {
        return a.timeMs != b.timeMs ? a.timeMs < b.timeMs : a.id < b.id;
    });
    const QString alarm = LookupText(settings, Msg::n625);
    for (const HistoryEvent &e : events) {
        const QString text = HistoryEventText(e, settings);
        if (!o.json) {
            PrintOut(IsoTime(e.timeMs) + u'\t' + (e.alarm ? alarm : QString()) + text);
            continue;
        }
        const QJsonValue none(QJsonValue::Null);
        PrintOut(Json(
            {{"id", e.id},
             {"time", IsoTime(e.timeMs)},
             {"kind", HistoryEventKindKey(e.kind)},
             {"controller", e.controller},
             {"subject", e.subject},
             {"code", e.code},
             {"previous", e.previous < 0 ? none : QJsonValue(e.previous)},
             {"text", text},
             {"alarm", e.alarm},
             {"acknowledged",
              e.alarm && e.acknowledgedMs > 0 ? QJsonValue(IsoTime(e.acknowledgedMs)) : none}}));
    }
    return ExitCode::Ok;
}

int RunServe(Session &s, const CliOptions &o) {
    MainState &st = s.state;
    const QString port =
        st.settingsIni.readString(QStringLiteral("connect"), QStringLiteral("port"), {});
    if (port.trimmed().isEmpty()) {
        NoteFailure(ErrorKey::PortNotSet);
        PrintErr(st.Text(Msg::n350));
        return ExitCode::NoPort;
    }
    const auto line = [](const QString &text, qint64 ms = NowMs()) {
        PrintErr(IsoTime(ms) + u' ' + text);
    };
    const std::optional<MqttSettings> mqtt = ServeMqttSettings(o, st.settingsIni);
    if (mqtt)
        if (const int r = CheckServeMqtt(*mqtt, st.settingsIni))
            return r;
#ifdef Q_OS_UNIX
    // A log reader that went away (a closed pipe on stderr) must not end the polling.
    ::signal(SIGPIPE, SIG_IGN);
#endif
    // Link changes come from the history, stamped; the panel's texts would repeat them.
    s.view.echoLink = false;
    s.view.echoProgress = false;
    s.StartHistory(true);
    line(st.Text(Msg::n628) + QDir::toNativeSeparators(s.store->path()));
    bool linkTold = false;
    QObject::connect(s.history.get(), &HistoryService::alarmRaised, s.history.get(),
                     [&](const HistoryEvent &e, const QString &text) {
                         line(st.Text(Msg::n625) + text, e.timeMs > 0 ? e.timeMs : NowMs());
                     });
    QObject::connect(s.history.get(), &HistoryService::linkChanged, s.history.get(),
                     [&](bool up, const QString &text) {
                         linkTold = true;
                         line(up ? st.Text(Msg::n101) : st.Text(Msg::n632) + text);
                     });
    // The controller's readings to the broker; the poll only hands them over.
    std::unique_ptr<MqttBridge> bridge;
    std::unique_ptr<MqttFeed> feed;
    if (mqtt) {
        bridge = std::make_unique<MqttBridge>(
            *mqtt,
            MqttAddressLevel(st.settingsIni.readInteger(QStringLiteral("connect"),
                                                        QStringLiteral("adr"), 100)),
            st.settingsIni);
        auto told = std::make_shared<MqttStateLog>();
        QObject::connect(bridge.get(), &MqttBridge::stateChanged, bridge.get(),
                         [told, line](MqttBridge::State state, const QString &text) {
                             if (told->Tell(int(state), state == MqttBridge::State::Connected, text))
                                 line(text);
                         });
        QString error;
        if (!bridge->Start(error)) {
            NoteFailure(ErrorKey::Usage, error);
            PrintErr(error);
            return ExitCode::Usage;
        }
        feed = std::make_unique<MqttFeed>(*bridge, *mqtt);
        feed->Follow(st, s.cycle, s.history.get());
    }
    // The first time up is told too; later ones come as the history's link changes.
    bool everUp = false;
    const int firstUp = s.cycle.controllerIdentified.Listen([&](quint16, quint16) {
        if (!everUp && !linkTold)
            line(st.Text(Msg::n101));
        everUp = true;
    });
    // Polled as the window polls: the step opens the port and identifies the controller,
    // and again after every loss, for as long as it runs. A controller that never came
    // up is told once, with what the step found.
    st.pollSensorData = true;
    int steps = 0;
    if (o.forMs)
        s.EndAfter(*o.forMs);
    s.RunPolling([&] {
        if (++steps == 2 && !st.linkUp && !linkTold && !s.view.status[0].isEmpty())
            line(s.view.status[0]);
        return false;
    });
    s.cycle.controllerIdentified.Unlisten(firstUp);
    feed.reset(); // "offline" goes out with the bridge
    bridge.reset();
    s.StopHistory();
    if (!s.store->problem().isEmpty()) { // what waited in memory is lost with the process
        NoteFailure(ErrorKey::FileRefused);
        line(st.Text(Msg::n633) + s.store->problem());
        return ExitCode::FileRefused;
    }
    line(st.Text(Msg::n629));
    return ExitCode::Ok;
}
