#include "Soak.h"

#include "LookupText.h"
#include "MainState.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "RecorderView.h"
#include "RunEvents.h"
#include "SimProcess.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <functional>

namespace {

// The shipped firmware 1.2 map: where each sensor's words live.
constexpr int kTemperature = 0x0100, kElapsed = 0x0180, kSensors = 36;

qint64 residentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

bool copyFile(const QString &from, const QString &to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

// Checks each cell the engine changes in one sensor-data grid. Row r of the left grid is
// sensor r, of the right one sensor 18 + r (all 36 are registered: with named values no
// status is 40). A cell is empty, a failure mark, or its own register's value.
class CellCheck {
public:
    CellCheck(TextGrid &grid, int firstSensor, const QString &sensorWord, SoakResult &result)
        : m_grid(grid), m_first(firstSensor), m_word(sensorWord), m_result(result) {
        QObject::connect(&grid, &QAbstractItemModel::dataChanged, &m_context,
                         [this](const QModelIndex &tl, const QModelIndex &br) {
                             // The whole row: a new sensor header must not stand
                             // over another sensor's values either.
                             for (int r = tl.row(); r <= br.row(); ++r)
                                 for (int c = 0; c < m_grid.colCount(); ++c)
                                     check(c, r);
                         });
    }
    // Every cell of the grid, at the end of a cycle.
    void checkAll() {
        for (int r = 1; r < m_grid.rowCountGrid(); ++r)
            for (int c = 0; c < m_grid.colCount(); ++c)
                check(c, r);
    }
    bool fresh(int row) const {
        const int i = m_first + row - 1;
        return m_grid.cell(1, row) == QString::number(kTemperature + i) &&
               m_grid.cell(3, row) == QString::number(kElapsed + i);
    }

private:
    void check(int col, int row) {
        if (row < 1)
            return;
        const QString text = m_grid.cell(col, row);
        ++m_result.cellsChecked;
        const int i = m_first + row - 1; // zero-based sensor index
        bool ok = text.isEmpty();
        switch (col) {
        case 0:
            ok = ok || text == m_word + u' ' + QString::number(i + 1);
            break;
        case 1:
            ok = ok || text == QLatin1String("---") || text == QString::number(kTemperature + i);
            break;
        // Named statuses are no status code the controller defines.
        case 2:
            ok = ok || text == QLatin1String("---") || text == QLatin1String("-------");
            break;
        case 3:
            ok = ok || text == QLatin1String("---") || text == QString::number(kElapsed + i);
            break;
        default:
            ok = true;
        }
        if (!ok) {
            if (m_result.firstMisplaced.isEmpty())
                m_result.firstMisplaced =
                    QStringLiteral("sensor %1 column %2: \"%3\"").arg(i + 1).arg(col).arg(text);
            ++m_result.misplaced;
        }
    }

    TextGrid &m_grid;
    int m_first;
    QString m_word;
    SoakResult &m_result;
    QObject m_context;
};

int statsField(SimProcess &sim, const char *name) {
    const QString reply = sim.command(QStringLiteral("stats"));
    const auto m =
        QRegularExpression(QLatin1String(name) + QStringLiteral("[= ](\\d+)")).match(reply);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

bool PrepareEngineFolder(const QString &port, int baud, int receiveMs, int periodMs) {
    const QString data = QStringLiteral(VELMARIS_SOURCE_DIR "/data/");
    bool ok = QDir().mkpath(QStringLiteral("Cfg"));
    for (const QString &name :
         QDir(data + QStringLiteral("Cfg")).entryList({QStringLiteral("*.ini")}))
        ok = ok && copyFile(data + QStringLiteral("Cfg/") + name, QStringLiteral("Cfg/") + name);
    ok = ok && copyFile(data + QStringLiteral("default.ini"), QStringLiteral("default.ini")) &&
         copyFile(data + QStringLiteral("start.ini"), QStringLiteral("start.ini"));
    MemIniFile start(QStringLiteral("start.ini"));
    const QString c = QStringLiteral("connect");
    start.writeString(c, QStringLiteral("port"), port);
    const int speeds[] = {9600, 19200, 38400, 57600, 115200};
    start.writeInteger(c, QStringLiteral("speed"),
                       int(std::find(std::begin(speeds), std::end(speeds), baud) - speeds));
    start.writeInteger(c, QStringLiteral("parity"), 0);
    start.writeInteger(c, QStringLiteral("stopbits"), 0);
    start.writeInteger(c, QStringLiteral("sleep"), 0);
    start.writeInteger(c, QStringLiteral("receive"), receiveMs);
    ok = ok && start.updateFile();
    // The poll period comes with the device configuration.
    for (const QString &name : QDir(QStringLiteral("Cfg")).entryList({QStringLiteral("*.ini")})) {
        MemIniFile cfg(QStringLiteral("Cfg/") + name);
        cfg.writeInteger(QStringLiteral("measure"), QStringLiteral("period"), periodMs);
        ok = ok && cfg.updateFile();
    }
    return ok;
}

SoakResult RunSoak(const SoakOptions &o) {
    SoakResult result;
    QStringList args{QStringLiteral("--named-values"), QStringLiteral("--sensors"),
                     QStringLiteral("36"), QStringLiteral("--seed"), QString::number(o.seed)};
    if (o.paced)
        args << QStringLiteral("--pace") << QStringLiteral("--baud") << QString::number(o.baud);
    const QString rate = QStringLiteral("rate=%1").arg(o.rate);
    // A late answer comes after the attempt gave up; an offline spell is short enough to
    // keep the soak moving.
    for (const char *kind :
         {"noanswer", "badcrc", "wrongaddr", "exception", "truncated", "noise", "lost"})
        args << QStringLiteral("--fault") << QLatin1String(kind) + u':' + rate;
    if (o.transport == SimProcess::Transport::TcpMbap) // a stale transaction id
        args << QStringLiteral("--fault") << QStringLiteral("badtid:") + rate;
    args << QStringLiteral("--fault")
         << QStringLiteral("late:%1,ms=%2").arg(rate).arg(o.receiveMs * 3 / 2)
         << QStringLiteral("--fault")
         << QStringLiteral("offline:%1,ms=%2").arg(rate).arg(o.periodMs);

    SimProcess sim(o.transport);
    if (!sim.start(args, 10000, SimProcess::Log::Off)) {
        result.error = sim.errorText();
        return result;
    }
    WorkingFolder folder;
    PrepareEngineFolder(sim.portSetting(), o.baud, o.receiveMs, o.periodMs);
    result.started = true;

    RecorderView view;
    view.keepHistory = false;
    view.pumpEvents = false;
    view.onMessage = [](const QString &caption, const QString &text) {
        qWarning("message: %s | %s", qPrintable(caption), qPrintable(text));
    };
    QObject context;
    MainState state(view);
    PollCycle cycle(state);
    state.pollSensorData = true;
    const QString word = state.Text(Msg::n32);
    CellCheck left(state.sensorsData, 0, word, result),
        right(state.sensorsData2, kSensors / 2, word, result);
    int cycles = 0;
    view.onCycleTime = [&](const QString &) {
        ++cycles;
        left.checkAll();
        right.checkAll();
    };
    QorThread thread(state, cycle, &context);
    thread.start();

    QElapsedTimer clock;
    clock.start();
    int requests = 0;
    bool rssTaken = false;
    while (requests < o.transactions) {
        RunEvents(250);
        requests = statsField(sim, "requests");
        if (qEnvironmentVariableIsSet("SOAK_TRACE"))
            qInfo("%d requests, link %s", requests, state.linkUp ? "up" : "down");
        if (requests < 0 || !sim.isRunning()) {
            result.error = QStringLiteral("the simulator stopped answering its commands");
            break;
        }
        if (!rssTaken && requests >= o.transactions / 10) {
            result.rssStartKb = residentKb();
            rssTaken = true;
        }
    }
    result.rssEndKb = residentKb();
    result.transactions = requests;
    result.faults = statsField(sim, "faults");
    result.seconds = double(clock.elapsed()) / 1000;

    // Faults off: the engine is online with fresh values of every sensor soon after.
    sim.command(QStringLiteral("faults off"));
    sim.command(QStringLiteral("online"));
    QElapsedTimer recovery;
    recovery.start();
    const auto allFresh = [&] {
        for (int r = 1; r <= kSensors / 2; ++r)
            if (!left.fresh(r) || !right.fresh(r))
                return false;
        return true;
    };
    // Values standing from before the faults stopped do not count: wait for a new cycle.
    for (TextGrid *g : {&state.sensorsData, &state.sensorsData2})
        for (int r = 1; r < g->rowCountGrid(); ++r)
            g->setCell(1, r, QString());
    while (recovery.elapsed() < 20000 && !(state.linkUp && allFresh()))
        RunEvents(5);
    result.recovered = state.linkUp && allFresh();
    if (result.recovered)
        result.recoveryMs = int(recovery.elapsed());
    result.linkDowns = view.linkDowns;
    result.cycles = cycles;
    thread.StopAndWait();
    return result;
}
