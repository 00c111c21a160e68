// Every file the program writes says the system's reason when a write fails: a full disk,
// a file-size limit reached in the middle of the bytes, a folder that may not be written.
// Qt gives a short write no reason ("Unknown error"), and a buffered save cut short was
// taken for a whole one.
#include "FrameLogView.h"
#include "MainState.h"
#include "ProfileFile.h"
#include "RecorderView.h"
#include "TextGrid.h"
#include "TrendFile.h"
#include "WorkingFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

enum class Writer { TrendRow, Profile, StartIni, FrameLog };
enum class Fault { FullDisk, SizeLimit, ReadOnlyFolder };

struct Outcome {
    bool ok = false;
    QString said; // the error text, or the message shown
};

// Twelve sensors, 2 and 9 registered.
struct Readings {
    std::array<quint16, 12> statuses;
    std::array<quint16, 12> temperatures{};
    Readings()
    {
        statuses.fill(40);
        statuses[1] = statuses[8] = 0;
    }
    TrendReadings view() const { return {statuses, temperatures, {}}; }
};

// One writer of the program with its file, and what was said when it wrote.
struct Target {
    Writer writer;
    RecorderView view;
    MainState state{view}; // start.ini and default.ini of the working folder
    std::unique_ptr<FrameLogView> frameLog;
    TrendFile trend;
    Readings readings;
    QString path;

    explicit Target(Writer w) : writer(w)
    {
        QDir().mkdir(QStringLiteral("out"));
        switch (writer) {
        case Writer::TrendRow:
            path = QDir::current().filePath(QStringLiteral("out/06_12_26____13_05_09.txt"));
            trend = TrendFile(path);
            trend.Create(readings.view()); // the recording had begun
            break;
        case Writer::Profile:
            path = QDir::current().filePath(QStringLiteral("out/profile.txt"));
            break;
        case Writer::StartIni:
            path = QDir::current().filePath(QStringLiteral("start.ini"));
            state.settingsIni.writeInteger(QStringLiteral("trends"), QStringLiteral("time"), 9);
            break;
        case Writer::FrameLog:
            path = QDir::current().filePath(QStringLiteral("out/frames.txt"));
            frameLog = std::make_unique<FrameLogView>(state);
            break;
        }
    }

    Outcome write()
    {
        Outcome o;
        switch (writer) {
        case Writer::TrendRow:
            o.ok = trend.AppendRow(readings.view(), QDateTime::currentDateTime(), &o.said);
            break;
        case Writer::Profile: {
            TextGrid sensors{3, 2}, tags{1, 2}, relays{2, 2};
            for (int c = 0; c < 3; ++c)
                sensors.setCell(c, 0, QStringLiteral("col %1").arg(c));
            sensors.setCell(0, 1, QStringLiteral("Датчик 1"));
            sensors.setCell(2, 1, QStringLiteral("5"));
            tags.setCell(0, 1, QStringLiteral("T1"));
            relays.setCell(1, 0, QStringLiteral("delay"));
            relays.setCell(0, 1, QStringLiteral("Реле 1"));
            ConnectUserValues connect;
            const ProfileContext context{
                state.settingsIni, state.deviceIni, 36,
                [&o](const QString &caption, const QString &text) { o.said = caption + " | " + text; },
                8};
            o.ok = SaveProfileFile(path, {sensors, tags, relays, connect}, QStringLiteral("2.0"),
                                   QStringLiteral("1.2"), false, context);
            break;
        }
        case Writer::StartIni:
            o.ok = state.SaveSettings();
            o.said = view.messages.value(0);
            break;
        case Writer::FrameLog:
            o.ok = frameLog->SaveTo(path, &o.said);
            break;
        }
        return o;
    }
};

} // namespace

Q_DECLARE_METATYPE(Writer)
Q_DECLARE_METATYPE(Fault)

class TestFileWriters : public QObject {
    Q_OBJECT
    std::unique_ptr<WorkingFolder> folder;

private slots:
    void init()
    {
        folder = std::make_unique<WorkingFolder>();
        QVERIFY(folder->isValid());
    }
    void cleanup() { folder.reset(); }

    void failedWriteSaysTheSystemsReason_data()
    {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<Fault>("fault");
        const std::pair<const char *, Writer> writers[] = {{"trend row", Writer::TrendRow},
                                                           {"profile", Writer::Profile},
                                                           {"start.ini", Writer::StartIni},
                                                           {"frame log", Writer::FrameLog}};
        const std::pair<const char *, Fault> faults[] = {
            {"full disk", Fault::FullDisk},
            {"size limit in the middle", Fault::SizeLimit},
            {"read-only folder", Fault::ReadOnlyFolder}};
        for (const auto &[wName, w] : writers)
            for (const auto &[fName, f] : faults)
                QTest::addRow("%s, %s", wName, fName) << w << f;
    }
    void failedWriteSaysTheSystemsReason()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs /dev/full, file-size limits and folder modes");
#else
        QFETCH(Writer, writer);
        QFETCH(Fault, fault);
        Target t(writer);
        const QString dir = QFileInfo(t.path).absolutePath();
        int expected = 0;
        Outcome o;
        switch (fault) {
        case Fault::FullDisk: {
            // /dev/full takes no byte: ENOSPC. As root a node of its own stands in for it,
            // so that a writer that renamed a file over it could never touch the real one.
            QFile::remove(t.path);
            if (geteuid() == 0)
                QVERIFY(mknod(QFile::encodeName(t.path).constData(), S_IFCHR | 0666,
                              makedev(1, 7)) == 0);
            else
                QVERIFY(QFile::link(QStringLiteral("/dev/full"), t.path));
            expected = ENOSPC;
            o = t.write();
            // Written into, never replaced by a plain file.
            QVERIFY(!QFileInfo(t.path).isFile());
            break;
        }
        case Fault::SizeLimit: {
            // Room for a few bytes more than the file holds: the write stops in the middle.
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit saved{};
            QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
            rlimit tight = saved;
            tight.rlim_cur = rlim_t(QFileInfo(t.path).size() + 5);
            QVERIFY(setrlimit(RLIMIT_FSIZE, &tight) == 0);
            o = t.write();
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            expected = EFBIG;
            break;
        }
        case Fault::ReadOnlyFolder: {
            const auto writable = QFile::ReadOwner | QFile::WriteOwner;
            const auto readable = QFile::ReadOwner | QFile::ExeOwner;
            if (QFile::exists(t.path))
                QVERIFY(QFile::setPermissions(t.path, QFile::ReadOwner));
            QVERIFY(QFile::setPermissions(dir, readable));
            QFile probe(QDir(dir).filePath(QStringLiteral("probe")));
            const bool rootWrites = probe.open(QIODevice::WriteOnly);
            if (!rootWrites)
                o = t.write();
            QFile::setPermissions(dir, writable | QFile::ExeOwner);
            if (QFile::exists(t.path))
                QFile::setPermissions(t.path, writable);
            if (rootWrites)
                QSKIP("this user writes into a read-only folder (root)");
            expected = EACCES;
            break;
        }
        }
        QVERIFY(!o.ok);
        const QString reason = qt_error_string(expected);
        QVERIFY2(o.said.contains(reason), qPrintable(o.said + " lacks " + reason));
        QVERIFY2(!o.said.contains(QStringLiteral("Unknown error")), qPrintable(o.said));
#endif
    }
};

QTEST_MAIN(TestFileWriters)
#include "tst_filewriters.moc"
