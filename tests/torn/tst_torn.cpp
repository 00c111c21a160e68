// Files rewritten while the program is killed (SIGKILL) at random moments: start.ini, a
// profile, trend rows. Afterwards every file is a whole old or new version, never torn or
// empty, and a trend file has lost no row but the one being written.
#include "TornVersions.h"
#include "TrendReader.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

constexpr int kKills = 100;

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class TornTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QRandomGenerator m_random{20261207};

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Starts the writer from generation first, lets it write for a random moment, kills it.
    void killWhileWriting(const char *mode, const QString &file, int first, int maxUs = 20000) {
        QProcess writer;
        writer.start(QStringLiteral(TORN_WRITER_PATH),
                     {QString::fromLatin1(mode), file, QString::number(first)});
        QVERIFY(writer.waitForStarted());
        QVERIFY2(writer.waitForReadyRead(10000), "the writer never wrote");
        QThread::usleep(m_random.bounded(maxUs));
        writer.kill(); // SIGKILL
        QVERIFY(writer.waitForFinished());
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
    }

    // Whatever the atomic replacement left besides the file itself (its temporary copies).
    int leftovers(const QString &name) const {
        int n = 0;
        for (const QString &f : QDir(m_dir.path()).entryList(QDir::Files))
            n += f != name;
        return n;
    }

private slots:
    void startIniIsOldOrNew() {
        const QString file = path(QStringLiteral("start.ini"));
        const QByteArray shipped = fileBytes(QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini"));
        QVERIFY(!shipped.isEmpty());
        QFile::remove(file);
        QVERIFY(QFile::copy(QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini"), file));
        int generation = 0, changed = 0;
        for (int i = 0; i < kKills; ++i) {
            killWhileWriting("ini", file, generation + 1);
            const QByteArray now = fileBytes(file);
            MemIniFile read{QString()};
            read.setBytes(now);
            const int k =
                read.readInteger(QStringLiteral("torn"), QStringLiteral("generation"), -1);
            QVERIFY2(k >= generation && k > 0, qPrintable(QString::number(i)));
            MemIniFile expected{QString()};
            expected.setBytes(shipped);
            Torn::SetIniVersion(expected, k);
            QVERIFY2(now == expected.toBytes(),
                     qPrintable(QStringLiteral("kill %1: generation %2 torn").arg(i).arg(k)));
            changed += k != generation;
            generation = k;
        }
        qInfo("start.ini: %d kills, %d generations written, changed between kills %d times, "
              "%d temporary files left",
              kKills, generation, changed, leftovers(QStringLiteral("start.ini")));
    }

    void profileIsOldOrNew() {
        const QString file = path(QStringLiteral("profile.txt"));
        MemIniFile settings{QString()}, device{QString()};
        int generation = 0;
        for (int i = 0; i < kKills; ++i) {
            killWhileWriting("profile", file, generation + 1);
            const QByteArray now = fileBytes(file);
            QVERIFY(!now.isEmpty());
            MemIniFile read{QString()};
            read.setBytes(now);
            const int cell =
                read.readInteger(QStringLiteral("Датчик 1"), QStringLiteral("col1"), -1);
            const int k = (cell - 11) / 100;
            QVERIFY2(cell > 0 && k >= generation, qPrintable(QString::number(i)));
            Torn::ProfileTables t(k);
            MemIniFile expected{QString()};
            QVERIFY(SaveProfile(expected, t.user(), QStringLiteral("2.0"), QStringLiteral("1.2"),
                                true, Torn::QuietContext(settings, device)));
            QVERIFY2(now == ProfileBytes(expected),
                     qPrintable(QStringLiteral("kill %1: generation %2 torn").arg(i).arg(k)));
            generation = k;
        }
        qInfo("profile: %d kills, %d generations written, %d temporary files left", kKills,
              generation, leftovers(QStringLiteral("profile.txt")));
    }

    void trendLosesAtMostTheRowBeingWritten() {
        const QString file = path(QStringLiteral("trend.txt"));
        TrendFile trend(file);
        QVERIFY(trend.Create(Torn::TrendRow(0).readings()));
        int rows = 0, cut = 0;
        for (int i = 0; i < kKills; ++i) {
            killWhileWriting("trend", file, rows, 3000); // rows come fast: keep the file small
            // The kill may cut the row being written (the system can stop a write between
            // two pages); the next writer takes that part back. Every row before it is whole.
            QByteArray now = fileBytes(file);
            cut += !now.endsWith("\r\n");
            now.truncate(now.lastIndexOf("\r\n") + 2);
            QString error;
            const auto data = ParseTrend(now, &error);
            QVERIFY2(data, qPrintable(error));
            QCOMPARE(data->skippedLines, 0);
            QCOMPARE(data->channels.size(), 2);
            QVERIFY(data->times.size() > rows);
            // Row n names n: none lost, none doubled, none out of place.
            for (int n = 0; n < data->times.size(); ++n) {
                const auto &low = data->channels[0].values[n], &high = data->channels[1].values[n];
                QVERIFY(low && high);
                QCOMPARE(int(*low) | int(*high) << 16, n);
            }
            rows = int(data->times.size());
        }
        qInfo("trend: %d kills, %d rows, none lost or torn; %d kills cut the row being written",
              kKills, rows, cut);
    }
};

} // namespace

QTEST_GUILESS_MAIN(TornTest)
#include "tst_torn.moc"
