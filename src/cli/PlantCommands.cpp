// identify, watch, record and serve over every controller of a plant (--plant plant.ini):
// the controllers polled in turn by the plant, each line telling whose it is.
#include "PlantCommands.h"

#include "CliOptions.h"
#include "CliTexts.h"
#include "Commands.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "MainState.h"
#include "MqttBridge.h"
#include "MqttFeed.h"
#include "MqttServe.h"
#include "Plant.h"
#include "PollCycle.h"
#include "Session.h"
#include "TrendFile.h"
#include "TrendPolling.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <csignal>
#include <map>

namespace {

constexpr quint16 kQor7070 = 3126;
// identify: how long a controller may take to give its first answer (or none).
constexpr int kIdentifyWaitMs = 120000;

QString Json(const QJsonObject &o) {
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// One run over the plant: its settings, the plant, the loop the commands wait in, and how
// the run ends (a signal, --for, or the command's own end).
class PlantRun {
    // Before the plant: its destructor lets events run, a late signal's among them.
    QEventLoop loop;
    QDeadlineTimer m_end;
    QTimer m_endTimer;

public:
    PlantRun(const CliOptions &options, MemIniFile &settings) : o(options), settings(settings) {}

    QString Text(const TextKey &key) const { return LookupText(settings, key); }
    QString Name(int i) { return plant->controller(i).entry().name; }

    // plant.ini read and checked, the plant started; an exit code.
    int Start(bool history) {
        PlantConfig config;
        QString error;
        const QString path = QDir::toNativeSeparators(o.plant);
        if (!ReadPlant(o.plant, settings, QDir::currentPath(), config, error))
            return Refused(Text(Msg::n696) + path + QStringLiteral(": ") + error);
        if (config.controllers.empty())
            return Refused(Text(Msg::n696) + path + QStringLiteral(": ") + Text(Msg::n701));
        plant = std::make_unique<Plant>(QDir::currentPath(), config);
        plant->setHistory(history);
        if (!plant->Start(error))
            return Refused(Text(Msg::n698) + error);
        // Open before the first step (none runs until the loop does), its problems in the
        // plant's language; Open is idempotent. A store that does not open keeps its
        // batches in memory, and TellStore says why.
        if (HistoryStore *store = plant->store()) {
            store->setTexts(&settings);
            store->Open();
        }
        CatchInterrupts([this] { Interrupt(); });
        if (o.forMs)
            EndAfter(*o.forMs);
        return ExitCode::Ok;
    }

    // Runs the plant until a signal, --for or Finish.
    void Run() {
        if (!interrupted && !timeUp && !finished)
            loop.exec();
        plant->Stop();
    }
    void Finish() {
        finished = true;
        loop.quit();
    }

    // A signal: the transaction running now ends at once and nothing more is sent (as a
    // single run's Interrupt); the plant is stopped once the loop has returned, never in
    // here, where stopping would wait.
    void Interrupt() {
        interrupted = true;
        for (int i = 0; i < plant->size(); ++i) {
            PlantController &c = plant->controller(i);
            c.state().stopPolling = true;
            c.state().link.Abort();
        }
        loop.quit();
    }

    const CliOptions &o;
    MemIniFile &settings;
    std::unique_ptr<Plant> plant;
    std::optional<MqttSettings> mqtt; // serve: publishing on
    bool interrupted = false, timeUp = false, finished = false;

private:
    int Refused(const QString &message) {
        NoteFailure(ErrorKey::FileRefused, message);
        PrintErr(message);
        return ExitCode::FileRefused;
    }

    // A timer holds at most 24 days: a longer run is waited for in steps.
    void EndAfter(qint64 ms) {
        m_end = QDeadlineTimer(ms);
        m_endTimer.setSingleShot(true);
        QObject::connect(&m_endTimer, &QTimer::timeout, [this] { checkEnd(); });
        checkEnd();
    }
    void checkEnd() {
        const qint64 left = m_end.remainingTime();
        if (left > 0) {
            m_endTimer.start(int(qMin<qint64>(left, 24LL * 3600 * 1000)));
            return;
        }
        timeUp = true;
        loop.quit();
    }
};

// Listeners on the controllers' cycles for one command, removed with it: they capture
// the command's own state.
class Listeners {
public:
    Listeners() = default;
    Listeners(const Listeners &) = delete;
    Listeners &operator=(const Listeners &) = delete;
    ~Listeners() {
        for (const auto &[hook, id] : m_hooks)
            hook->Unlisten(id);
    }
    void Add(CycleHook<> &hook, std::function<void()> f) {
        m_hooks.emplace_back(&hook, hook.Listen(std::move(f)));
    }

private:
    std::vector<std::pair<CycleHook<> *, int>> m_hooks;
};

// What identify found of one controller.
struct Identified {
    bool done = false;
    int exit = ExitCode::Ok;
    const char *error = nullptr;
    QString message;
};

// After a step of a controller not yet judged: up, or what kept it down. Nothing while
// the step told nothing yet (the plant's first report may come before any step).
void Judge(PlantController &c, Identified &r, const QString &unknownDevice) {
    const MainState &st = c.state();
    const PlantSummary summary = c.summary();
    if (st.linkUp) {
        r.done = true;
        return;
    }
    const bool answered = !st.firmwareVersionText.isEmpty();
    const quint16 code = c.cycle().identificationRecord.values[0];
    if (answered && code != kQor7070) {
        r = {true, ExitCode::WrongDevice, ErrorKey::NotQor7070,
             unknownDevice + QStringLiteral(" (") + QString::number(code) + u')'};
    } else if (answered && c.cycle().configurationFailed) {
        r = {true, ExitCode::WrongDevice, ErrorKey::NoConfiguration, summary.linkText};
    } else if (!summary.linkText.isEmpty() && !st.link.IsOpen()) { // as single identify
        r = {true, ExitCode::NoPort, ErrorKey::PortUnusable, summary.linkText};
    } else if (!summary.linkText.isEmpty()) {
        r = {true, ExitCode::NoAnswer, ErrorKey::NoAnswer, summary.linkText};
    }
}

int Identify(PlantRun &run) {
    Plant &plant = *run.plant;
    std::vector<Identified> results(size_t(plant.size()));
    const QString unknownDevice = run.Text(Msg::n103);
    const auto allDone = [&] {
        return std::all_of(results.begin(), results.end(), [](const auto &r) { return r.done; });
    };
    for (int i = 0; i < plant.size(); ++i)
        QObject::connect(&plant.controller(i), &PlantController::updated, &plant.controller(i),
                         [&, i] {
                             if (results[size_t(i)].done)
                                 return;
                             Judge(plant.controller(i), results[size_t(i)], unknownDevice);
                             if (allDone())
                                 run.Finish();
                         });
    QTimer::singleShot(kIdentifyWaitMs, &plant, [&] { run.Finish(); });
    run.Run();
    if (run.interrupted)
        return ExitCode::Interrupted;
    int exit = ExitCode::Ok;
    QStringList failed;
    for (int i = 0; i < plant.size(); ++i) {
        Identified &r = results[size_t(i)];
        PlantController &c = plant.controller(i);
        const MainState &st = c.state();
        if (!r.done) // never told anything in the time given
            r = {true, ExitCode::NoAnswer, ErrorKey::NoAnswer, c.summary().linkText};
        const QString name = run.Name(i);
        const bool answered = !st.firmwareVersionText.isEmpty();
        const quint16 code = c.cycle().identificationRecord.values[0];
        if (run.o.json) {
            QJsonObject out{{"controller", name}};
            if (answered) {
                out.insert("device", code);
                out.insert("firmware", st.firmwareVersionText);
                out.insert("hardware", st.hardwareVersionText);
            }
            out.insert("supported", r.exit == ExitCode::Ok);
            if (r.exit != ExitCode::Ok) {
                out.insert("error", QString::fromLatin1(r.error));
                out.insert("exit", r.exit);
                out.insert("message", r.message);
            }
            PrintOut(Json(out));
        } else if (answered) {
            PrintOut(QStringLiteral("%1: device: %2\n%1: firmware: %3\n%1: hardware: %4")
                         .arg(name)
                         .arg(code)
                         .arg(st.firmwareVersionText, st.hardwareVersionText));
        }
        if (r.exit != ExitCode::Ok) {
            PrintErr(name + QStringLiteral(": ") + r.message);
            failed << name;
            if (exit == ExitCode::Ok)
                exit = r.exit;
        }
    }
    if (!failed.isEmpty()) {
        const QString message = run.Text(Msg::n699) + failed.join(QStringLiteral(", "));
        PrintErr(message);
        NoteFailure(ErrorKey::OfExitCode(exit), message);
        if (run.o.json)
            JsonFailure(exit); // each controller's object told it already
    }
    return exit;
}

// Link changes on stderr, each with the controller's name (stamped for serve's log): up,
// lost with why, and a controller that does not come up at the start, once.
void TellLinks(PlantRun &run, const std::function<void(const QString &)> &line) {
    Plant &plant = *run.plant;
    auto told = std::make_shared<std::vector<int>>(size_t(plant.size()), -1); // -1: nothing
    for (int i = 0; i < plant.size(); ++i) {
        PlantController &c = plant.controller(i);
        const QString prefix = run.Name(i) + QStringLiteral(": ");
        const auto tell = [&run, &c, told, i, prefix, line](bool up) {
            int &last = (*told)[size_t(i)];
            if (last == int(up))
                return;
            last = int(up);
            line(prefix + (up ? run.Text(Msg::n101) : run.Text(Msg::n632) + c.summary().linkText));
        };
        QObject::connect(&c, &PlantController::linkChanged, &c, tell);
        QObject::connect(&c, &PlantController::updated, &c, [&c, told, i, prefix, line] {
            const PlantSummary s = c.summary();
            int &last = (*told)[size_t(i)];
            if (last != -1 || s.linkText.isEmpty())
                return;
            last = int(s.linkUp);
            line(prefix + s.linkText);
        });
    }
}

// The history store's problems, once per change (whether opening or the writer found
// them), and a damaged file set aside.
void TellStore(PlantRun &run, const std::function<void(const QString &)> &line) {
    HistoryStore *store = run.plant->store();
    if (!store)
        return;
    auto told = std::make_shared<QString>();
    const auto problem = [&run, line, told](const QString &text) {
        if (text == *told)
            return;
        *told = text;
        line(text.isEmpty() ? run.Text(Msg::n627) : text);
    };
    QObject::connect(store, &HistoryStore::problemChanged, store, problem);
    QObject::connect(store, &HistoryStore::fileSetAside, store,
                     [&run, line](const QString &path) { line(run.Text(Msg::n631) + path); });
    if (!store->problem().isEmpty())
        problem(store->problem());
}

// --count: every controller has given its lines (one that never answers keeps the run
// going until a signal or --for).
bool CountDone(const CliOptions &o, const std::vector<int> &lines) {
    return o.count && std::all_of(lines.begin(), lines.end(), [&](int n) { return n >= *o.count; });
}

int CountedEnd(PlantRun &run, const std::vector<int> &lines) {
    if (!run.interrupted || !run.o.count || CountDone(run.o, lines))
        return ExitCode::Ok;
    QStringList done;
    for (int i = 0; i < run.plant->size(); ++i)
        done << run.Name(i) + QStringLiteral(" %1/%2").arg(lines[size_t(i)]).arg(*run.o.count);
    PrintErr(run.Text(Msg::n356) + done.join(QStringLiteral(", ")));
    return ExitCode::Interrupted;
}

int Watch(PlantRun &run) {
    Plant &plant = *run.plant;
    const CliOptions &o = run.o;
    const int n = plant.size();
    std::vector<int> lines(size_t(n), 0);
    std::vector<QList<int>> headers(static_cast<size_t>(n)); // TSV columns, fixed by the first line
    std::vector<bool> headerDone(size_t(n), false), lineDue(size_t(n), true);
    QTimer lineTimer;
    QObject::connect(&lineTimer, &QTimer::timeout, [&] { lineDue.assign(size_t(n), true); });
    if (o.period)
        lineTimer.start(*o.period * 1000);
    TellLinks(run, [](const QString &text) { PrintErr(text); });
    TellStore(run, [](const QString &text) { PrintErr(text); });
    Listeners listeners;
    for (int i = 0; i < n; ++i) {
        PlantController &c = plant.controller(i);
        c.state().pollSensorData = true;
        if (o.json)
            c.state().readAllTagsRequested = true;
        const QString name = run.Name(i);
        listeners.Add(c.cycle().liveDataRead, [&, i, name] {
            PlantController &c = plant.controller(i);
            const size_t k = size_t(i);
            if (!lineDue[k] || (o.count && lines[k] >= *o.count))
                return;
            lineDue[k] = !o.period;
            const QDateTime now = QDateTime::currentDateTime();
            if (o.json) {
                QJsonObject line = WatchJson(c.cycle(), c.state(), now);
                line.insert("controller", name);
                PrintOut(Json(line));
            } else {
                if (!headerDone[k]) {
                    headers[k] = RegisteredSensors(TrendReadingsOf(c.cycle(), c.state()).statuses);
                    PrintOut(name + u'\t' + WatchHeader(c.state(), headers[k]).join(u'\t'));
                    headerDone[k] = true;
                }
                PrintOut(name + u'\t' +
                         WatchCells(c.cycle(), c.state(), headers[k], now).join(u'\t'));
            }
            ++lines[k];
            if (CountDone(o, lines))
                run.Finish();
        });
    }
    run.Run();
    return CountedEnd(run, lines);
}

// The controller's name as a part of a file name: what no file system takes becomes "_".
QString FileNamePart(const QString &name) {
    QString out = name;
    for (QChar &c : out)
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            c = u'_';
    return out;
}

// The trend file of a controller: FILE with the controller's name before its extension,
// else a new file named by the start time in Trends/ of its folder.
QString TrendPathOf(PlantRun &run, int i, const QDateTime &start) {
    const QString name = FileNamePart(run.Name(i));
    if (!run.o.file.isEmpty()) {
        const QFileInfo f(run.o.file);
        const QString suffix = f.suffix().isEmpty() ? QString() : u'.' + f.suffix();
        return QDir::toNativeSeparators(
            f.absoluteDir().filePath(f.completeBaseName() + u'-' + name + suffix));
    }
    QString folder = run.plant->controller(i).place().folder;
    QString base = TrendFileBaseName(start);
    if (folder.isEmpty()) { // the working folder: the name tells the controller
        folder = QDir::currentPath();
        base = base.chopped(4) + u'-' + name + QStringLiteral(".txt");
    }
    const QString trends = QDir(folder).filePath(QStringLiteral("Trends"));
    QString path = QDir(trends).filePath(base);
    for (int k = 2; QFileInfo::exists(path); ++k) // never another recording's file
        path = QDir(trends).filePath(base.chopped(4) + QStringLiteral("_%1.txt").arg(k));
    return QDir::toNativeSeparators(path);
}

int Record(PlantRun &run) {
    Plant &plant = *run.plant;
    const CliOptions &o = run.o;
    const int n = plant.size();
    int period = o.period.value_or(
        run.settings.readInteger(QStringLiteral("trends"), QStringLiteral("time"), 5));
    if (period < 1 || period > kMaxTrendPeriodS) // a hand-edited start.ini
        period = 5;
    const QDateTime start = QDateTime::currentDateTime();
    std::vector<TrendFile> files;
    for (int i = 0; i < n; ++i) {
        const QString path = TrendPathOf(run, i, start);
        if (o.file.isEmpty() && !QDir().mkpath(QFileInfo(path).absolutePath())) {
            PrintErr(run.Text(Msg::n131) + path);
            return ExitCode::FileRefused;
        }
        if (!TrendFileUsable(run.settings, path))
            return ExitCode::FileRefused;
        files.emplace_back(path);
        PrintErr(run.Name(i) + QStringLiteral(": ") + run.Text(Msg::n128) + path);
    }
    std::vector<int> rows(size_t(n), 0);
    // A row is due at once, then every period; the first waits for the tags of the header.
    std::vector<bool> rowDue(size_t(n), true), tagsRead(size_t(n), false);
    int result = ExitCode::Ok;
    QTimer timer1;
    QObject::connect(&timer1, &QTimer::timeout, [&] { rowDue.assign(size_t(n), true); });
    timer1.start(period * 1000);
    TellLinks(run, [](const QString &text) { PrintErr(text); });
    TellStore(run, [](const QString &text) { PrintErr(text); });
    Listeners listeners;
    for (int i = 0; i < n; ++i) {
        PlantController &c = plant.controller(i);
        c.state().pollSensorData = true;
        c.state().readAllTagsRequested = true;
        listeners.Add(c.cycle().allTagsRead, [&tagsRead, i] { tagsRead[size_t(i)] = true; });
        listeners.Add(c.cycle().liveDataRead, [&, i] {
            const size_t k = size_t(i);
            if (!rowDue[k] || !tagsRead[k] || (o.count && rows[k] >= *o.count))
                return;
            rowDue[k] = false; // several steps before one good cycle give one row
            PlantController &c = plant.controller(i);
            QString why;
            if (!WriteTrendRow(files[k], TrendReadingsOf(c.cycle(), c.state()), &why)) {
                PrintErr(run.Name(i) + QStringLiteral(": ") + run.Text(Msg::n131) +
                         files[k].path() + QStringLiteral("  (") + why + u')');
                result = ExitCode::FileRefused;
                run.Finish();
                return;
            }
            ++rows[k];
            if (CountDone(o, rows))
                run.Finish();
        });
    }
    run.Run();
    return result != ExitCode::Ok ? result : CountedEnd(run, rows);
}

// The store's controllers by the plant's names: the same port (as one bus) and address.
QString ControllerName(PlantRun &run, const HistoryStore &store, int id) {
    for (const HistoryControllerRow &r : store.Controllers()) {
        if (r.id != id)
            continue;
        for (const PlantEntry &e : run.plant->config().controllers)
            if (e.address == r.controller.address && BusKey(e.port) == BusKey(r.controller.port))
                return e.name;
    }
    return QStringLiteral("#%1").arg(id);
}

int Serve(PlantRun &run) {
    Plant &plant = *run.plant;
    HistoryStore *store = plant.store();
    const auto line = [](const QString &text, qint64 ms = NowMs()) {
        PrintErr(IsoTime(ms) + u' ' + text);
    };
    if (store)
        line(run.Text(Msg::n700) + QString::number(plant.size()) + QStringLiteral(". ") +
             run.Text(Msg::n628) + QDir::toNativeSeparators(store->path()));
    TellLinks(run, [line](const QString &text) { line(text); });
    TellStore(run, line);
    // Every controller's readings to the broker, each under its plant name.
    std::unique_ptr<MqttPlantFeeds> feeds;
    if (run.mqtt) {
        feeds = std::make_unique<MqttPlantFeeds>(plant, *run.mqtt);
        auto told = std::make_shared<std::map<int, MqttStateLog>>();
        QObject::connect(feeds.get(), &MqttPlantFeeds::stateChanged, feeds.get(),
                         [told, line, &run](int i, int state, const QString &text) {
                             if ((*told)[i].Tell(state, state == int(MqttBridge::State::Connected), text))
                                 line(run.Name(i) + QStringLiteral(": ") + text);
                         });
        QString error;
        if (!feeds->Start(error)) {
            NoteFailure(ErrorKey::Usage, error);
            PrintErr(error);
            return ExitCode::Usage;
        }
    }
    // The alarms as the store takes them in, oldest first, each once.
    qint64 lastAlarm = 0;
    const qint64 since = NowMs() - 1000;
    QMetaObject::Connection alarms;
    if (store)
        alarms = QObject::connect(store, &HistoryStore::eventsAdded, store, [&] {
            EventFilter filter;
            filter.fromMs = since;
            filter.alarmsOnly = true;
            std::vector<HistoryEvent> events = store->Events(filter);
            std::sort(events.begin(), events.end(),
                      [](const auto &a, const auto &b) { return a.id < b.id; });
            for (const HistoryEvent &e : events) {
                if (e.id <= lastAlarm)
                    continue;
                lastAlarm = e.id;
                line(ControllerName(run, *store, e.controller) + QStringLiteral(": ") +
                         run.Text(Msg::n625) + HistoryEventText(e, run.settings),
                     e.timeMs > 0 ? e.timeMs : NowMs());
            }
        });
    for (int i = 0; i < plant.size(); ++i)
        plant.controller(i).state().pollSensorData = true;
    run.Run();
    feeds.reset(); // "offline" goes out with the bridges, before the engines go
    QObject::disconnect(alarms);
    if (store) {
        store->Flush();
        if (!store->problem().isEmpty()) { // what waited in memory is lost with the process
            NoteFailure(ErrorKey::FileRefused);
            line(run.Text(Msg::n633) + store->problem());
            return ExitCode::FileRefused;
        }
    }
    line(run.Text(Msg::n629));
    return ExitCode::Ok;
}

} // namespace

int RunPlant(const CliOptions &o) {
    MemIniFile settings(QStringLiteral("start.ini"));
    ApplyLineOptions(o, settings); // --lang only: the line options are refused with --plant
    const bool serve = o.command == QLatin1String("serve");
#ifdef Q_OS_UNIX
    if (serve) // a log reader that went away must not end the polling
        ::signal(SIGPIPE, SIG_IGN);
#endif
    PlantRun run(o, settings);
    if (serve) {
        run.mqtt = ServeMqttSettings(o, settings);
        if (run.mqtt)
            if (const int r = CheckServeMqtt(*run.mqtt, settings))
                return r;
    }
    const bool history =
        serve || ((o.command == QLatin1String("watch") || o.command == QLatin1String("record")) &&
                  !o.noHistory);
    if (const int r = run.Start(history))
        return r;
    if (o.command == QLatin1String("identify"))
        return Identify(run);
    if (o.command == QLatin1String("watch"))
        return Watch(run);
    if (o.command == QLatin1String("record"))
        return Record(run);
    return Serve(run);
}
