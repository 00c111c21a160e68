#include "Session.h"

#include "CliTexts.h"
#include "ExitCodes.h"
#include "QorThread.h"
#include "SerialLink.h"
#include "SettingsMessage.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

Session::Session(ConsoleView &v, const CliOptions &options) : view(v), state(v), cycle(state) {
    view.unknownDeviceText = state.Text(Msg::n103);
    if (options.iniGiven) {
        if (!QFileInfo(options.ini).isFile()) {
            PrintErr(state.Text(Msg::n67) + QStringLiteral(": ") +
                     FixedText(state.settingsIni, u"Файл настроек не найден: ",
                               "Settings file not found: ") +
                     options.ini);
            m_settingsReadable = false;
        }
        state.settingsIni.rename(options.ini, true);
    }
    m_lineGiven = options.LineGiven();
    m_langGiven = options.lang.has_value();
    const QString language = QStringLiteral("language"), lang = QStringLiteral("lang");
    if (state.settingsIni.valueExists(language, lang))
        m_langInFile = state.settingsIni.readString(language, lang, {});
    ApplyLineOptions(options, state.settingsIni);
}

bool Session::WriteConnection(const std::function<bool()> &write) {
    const QString settingsFile = state.settingsIni.fileName();
    QTemporaryDir scratch;
    if (m_lineGiven)
        state.settingsIni.rename(scratch.filePath(QStringLiteral("start.ini")), false);
    const bool ok = write();
    if (m_lineGiven) {
        state.settingsIni.rename(settingsFile, false);
    } else if (m_langGiven) {
        // The new line was stored with this run's language: the file gets its own back.
        MemIniFile file(settingsFile);
        const QString language = QStringLiteral("language"), lang = QStringLiteral("lang");
        if (m_langInFile)
            file.writeString(language, lang, *m_langInFile);
        else
            file.deleteKey(language, lang);
        file.updateFile();
    }
    return ok;
}

ProfileContext Session::Context() {
    return {state.settingsIni, state.deviceIni, state.registerMap.MAX_SENSORS,
            [this](const QString &caption, const QString &text) {
                view.ShowMessage(caption, text, MainView::Icon::None);
            },
            state.registerMap.QOR_SENSOR_TAG_SIZE};
}

int Session::Connect() {
    const QString port =
        state.settingsIni.readString(QStringLiteral("connect"), QStringLiteral("port"), {});
    if (port.trimmed().isEmpty()) { // a fresh folder: the user never chose one
        NoteFailure(ErrorKey::PortNotSet);
        PrintErr(state.Text(Msg::n350));
        return ExitCode::NoPort;
    }
    if (!state.link.ConnectPort(SerialLink::PortPathFromSetting(port))) {
        PrintErr(view.status[0] + QStringLiteral(": ") + port);
        return ExitCode::NoPort;
    }
    view.unknownDevice = false;
    if (!cycle.IdentifyController()) {
        state.link.ClosePort();
        if (Interrupted())
            return ExitCode::Interrupted;
        if (view.unknownDevice) {
            PrintErr(view.status[2] + QStringLiteral(" (") +
                     QString::number(cycle.identificationRecord.values[0]) + u')');
            return ExitCode::WrongDevice;
        }
        if (cycle.configurationFailed) { // the configuration's message has been shown
            NoteFailure(ErrorKey::NoConfiguration);
            return ExitCode::WrongDevice;
        }
        PrintErr(view.status[0]);
        return ExitCode::NoAnswer;
    }
    state.linkUp = true;
    view.ShowStatus(0, state.Text(Msg::n101));
    cycle.SizeRecordArrays();
    state.deviceChanged = false;
    // As a step that brings the link up tells it: the history starts keeping from here.
    if (cycle.controllerIdentified)
        cycle.controllerIdentified(cycle.identificationRecord.values[0], state.firmwareVersion);
    return ExitCode::Ok;
}

int Session::ReadControllerTables() {
    // Any read that fails three times takes the link down; the tag reads included.
    const auto failed = [this] {
        if (Interrupted())
            return ExitCode::Interrupted;
        PrintErr(view.status[0]);
        return ExitCode::NoAnswer;
    };
    state.sensorSettingsReadIndex = 0;
    for (int i = 0; i < state.registerMap.MAX_SENSORS; ++i)
        if (!cycle.ReadNextSensorSettings() || !state.linkUp)
            return failed();
    if (!cycle.ReadRelaySettings() || !state.linkUp)
        return failed();
    return ExitCode::Ok;
}

QString IsoTime(qint64 utcMs) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(utcMs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void Session::StartHistory(bool stamped) {
    store =
        std::make_unique<HistoryStore>(QDir::currentPath(), HistoryLimitsFrom(state.settingsIni));
    store->setTexts(&state.settingsIni);
    const auto line = [stamped](const QString &text) {
        PrintErr(stamped ? IsoTime(QDateTime::currentMSecsSinceEpoch()) + u' ' + text : text);
    };
    // Once per change, whether Open or the writer found it.
    const auto problem = [this, line](const QString &text) {
        if (text == m_storeProblem)
            return;
        m_storeProblem = text;
        line(text.isEmpty() ? state.Text(Msg::n627) : text); // the store's text says it all
    };
    QObject::connect(store.get(), &HistoryStore::problemChanged, store.get(), problem);
    QObject::connect(store.get(), &HistoryStore::fileSetAside, store.get(),
                     [this, line](const QString &path) { line(state.Text(Msg::n631) + path); });
    if (!store->Open())
        problem(store->problem());
    history = std::make_unique<HistoryService>(*store, state, cycle);
}

void Session::StopHistory() {
    history.reset();
    if (store)
        store->Flush();
}

void Session::sleep(int ms) {
    QEventLoop loop;
    m_sleep = &loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    if (!Interrupted())
        loop.exec();
}

void Session::RunPolling(const std::function<bool()> &done) {
    const auto over = [&] { return Interrupted() || m_timeUp || done(); };
    while (!over()) {
        cycle.PollCycleStep();
        if (!state.linkUp && !over())
            sleep(qMax(QorThread::kOfflineFloorMs, state.PollPeriodMs()));
    }
}

void Session::EndAfter(qint64 ms) {
    m_end = QDeadlineTimer(ms);
    m_endTimer.setSingleShot(true);
    QObject::connect(&m_endTimer, &QTimer::timeout, [this] { checkEnd(); });
    checkEnd();
}

// A timer holds at most 24 days: a longer run is waited for in steps.
void Session::checkEnd() {
    const qint64 left = m_end.remainingTime();
    if (left > 0) {
        m_endTimer.start(int(qMin<qint64>(left, 24LL * 3600 * 1000)));
        return;
    }
    m_timeUp = true;
    if (m_sleep)
        m_sleep->quit();
}

void Session::Interrupt() {
    state.stopPolling = true;
    state.link.Abort();
    if (m_sleep)
        m_sleep->quit();
}

namespace {
#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};
void OnSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}
#else
volatile std::sig_atomic_t g_signalled = 0;
void OnSignal(int) {
    g_signalled = 1;
}
#endif
} // namespace

void CatchInterrupts(Session &session) {
    CatchInterrupts([&session] { session.Interrupt(); });
}

void CatchInterrupts(const std::function<void()> &interrupt) {
#ifdef Q_OS_UNIX
    // The handler only writes a byte; the event loop (a link wait or a sleep) reads it.
    if (::pipe(g_signalPipe) != 0)
        return;
    ::fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier =
        new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [interrupt] {
        char c;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &c, 1);
        interrupt();
    });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
#else
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, [interrupt] {
        if (g_signalled)
            interrupt();
    });
    timer->start(100);
#endif
}
