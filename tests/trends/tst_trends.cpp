// Trend files and their recording, without the poll cycle: a host that records what the
// window would show, readings held by the test, a clock the test sets.
#include "Cp1251.h"
#include "MemIniFile.h"
#include "TrendFile.h"
#include "TrendReader.h"
#include "TrendRecorder.h"
#include "WorkingFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <array>
#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

struct Host : TrendHost {
    bool link = true;
    int tagRequests = 0;
    QString panel10;
    bool panel10Shown = false;
    QString status1 = QStringLiteral("(untouched)");
    QString hint;
    int saves = 0;
    bool LinkUp() const override { return link; }
    void RequestAllTags() override { ++tagRequests; }
    void ShowPanel10(const QString &caption) override
    {
        panel10 = caption;
        panel10Shown = true;
    }
    void HidePanel10() override { panel10Shown = false; }
    void ShowStatus1(const QString &text) override { status1 = text; }
    void SetTrendHint(const QString &text) override { hint = text; }
    bool SaveSettings() override { return ++saves, true; }
};

// Twelve sensors; 2, 5 and 9 registered, 5 without power.
struct Readings {
    std::array<quint16, 12> statuses;
    std::array<quint16, 12> temperatures{};
    std::array<QString, 12> tags;
    Readings()
    {
        statuses.fill(40);
        statuses[1] = 0;
        statuses[4] = 10;
        statuses[8] = 2;
        for (int i = 0; i < 12; ++i)
            temperatures[i] = quint16(100 + i + 1);
        temperatures[8] = 65526; // unsigned, no sign
        tags[1] = QStringLiteral("Печь");
        tags[8] = QStringLiteral("T9");
    }
    TrendReadings view() const
    {
        return {statuses, temperatures, [this](int i) { return tags[i]; }};
    }
};

const QDateTime kStart(QDate(2026, 12, 6), QTime(13, 5, 9));

// The Trends folder of the working directory, the way the program names it.
QString trendsFolder()
{
    return QDir::current().filePath(QStringLiteral("Trends"));
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

QList<QByteArray> fileLines(const QString &path)
{
    QList<QByteArray> lines = fileBytes(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

int cellCount(const QByteArray &line)
{
    return int(line.count('\t'));
}

QString russian(const TextKey &k)
{
    return QString::fromUtf16(k.russian);
}

} // namespace

class TestTrends : public QObject {
    Q_OBJECT
    std::unique_ptr<WorkingFolder> folder;
    std::unique_ptr<MemIniFile> settings;
    std::unique_ptr<Host> host;
    std::unique_ptr<TrendRecorder> rec;
    QDateTime now;
    Readings data;

    // Start pressed, the cycle reports the tags read: recording runs.
    void startRecording()
    {
        rec->ButtonStartFileClick();
        QVERIFY(rec->preparing());
        rec->AllTagsRead();
        QVERIFY(rec->recording());
    }
    // One good cycle after a tick.
    void tickAndServe()
    {
        rec->Timer1Timer();
        now = now.addSecs(3);
        rec->LiveDataRead(data.view());
    }

private slots:
    void init()
    {
        folder = std::make_unique<WorkingFolder>();
        QVERIFY(folder->isValid());
        settings = std::make_unique<MemIniFile>(folder->filePath("start.ini"));
        settings->writeInteger("trends", "time", 3);
        QVERIFY(settings->updateFile());
        host = std::make_unique<Host>();
        rec = std::make_unique<TrendRecorder>(*settings, *host);
        now = kStart;
        rec->setClock([this] { return now; });
        data = Readings();
    }
    void cleanup()
    {
        rec.reset();
        host.reset();
        settings.reset();
        folder.reset();
    }

    // The example of three registered sensors out of twelve, sensor 5 without power.
    void headerAndRowByteForByte()
    {
        startRecording();
        const QString name = QDir::toNativeSeparators(trendsFolder() + "/06_12_26____13_05_09.txt");
        QCOMPARE(rec->trendFileName(), name);
        QVERIFY(rec->rowRequested()); // the first tick came with the start
        now = now.addSecs(1);
        rec->LiveDataRead(data.view());
        QVERIFY(!rec->rowRequested());
        const QByteArray expected = QByteArray::fromHex(
            // Дата Время Канал 2 Канал 5 Канал 9
            "c4e0f2e009"
            "c2f0e5ecff09"
            "cae0ede0eb203209"
            "cae0ede0eb203509"
            "cae0ede0eb203909"
            "0d0a"
            // Дата Время Печь (none) T9
            "c4e0f2e009"
            "c2f0e5ecff09"
            "cfe5f7fc09"
            "09"
            "543909"
            "0d0a"
            // 06.12.26 13:05:10 102 НЕТ ПИТАНИЯ 65526
            "30362e31322e323609"
            "31333a30353a313009"
            "31303209"
            "cdc5d220cfc8d2c0cdc8df09"
            "363535323609"
            "0d0a");
        QCOMPARE(fileBytes(name), expected);
    }

    void statusTextsAndFileName()
    {
        QCOMPARE(TrendCellText(1, 65535), QStringLiteral("65535"));
        QCOMPARE(TrendCellText(20, 5), QStringLiteral("НЕИСПРАВЕН!!"));
        QCOMPARE(TrendCellText(40, 5), QString());
        QCOMPARE(TrendCellText(3, 5), QStringLiteral("-------"));
        QCOMPARE(TrendCellText(11, 5), QStringLiteral("-------"));
        // Two-digit fields, 24-hour clock, date and time from one reading.
        QCOMPARE(TrendFileBaseName(QDateTime(QDate(2009, 1, 2), QTime(23, 4, 5))),
                 QStringLiteral("02_01_09____23_04_05.txt"));
    }

    // Statuses change under the recording: every value stays under its own sensor.
    void cellsStayUnderTheirHeader()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        data.statuses[4] = 40; // sensor 5 is gone
        data.statuses[6] = 0;  // sensor 7 registers after the header was written
        data.statuses[8] = 77; // a code the table does not know
        tickAndServe();
        data.statuses[4] = 1; // back
        tickAndServe();
        const QList<QByteArray> lines = fileLines(rec->trendFileName());
        QCOMPARE(lines.size(), 5);
        for (const QByteArray &line : lines) {
            QCOMPARE(cellCount(line), 5);
            QVERIFY(line.endsWith("\t\r"));
        }
        QVERIFY(lines[3].endsWith("\t102\t\t-------\t\r"));
        QVERIFY(lines[4].endsWith("\t102\t105\t-------\t\r"));
        QVERIFY(!lines[0].contains(Cp1251::encode(QStringLiteral("Канал 7"))));
        // Read back, each value lands in its sensor's channel.
        const auto trend = ReadTrendFile(rec->trendFileName());
        QVERIFY(trend);
        QCOMPARE(trend->channels.size(), 3);
        QCOMPARE(trend->channels[1].sensor, 5);
        QCOMPARE(trend->channels[1].values,
                 (QList<std::optional<quint16>>{std::nullopt, std::nullopt, 105}));
        QCOMPARE(trend->channels[2].values, (QList<std::optional<quint16>>{65526, {}, {}}));
    }

    // A tag could hold any byte; a TAB or line break in it must not add a column or line.
    void tagsCannotSplitTheHeader()
    {
        data.tags[1] = QStringLiteral("a\tb\r\nc");
        TrendFile f(folder->filePath("t.txt"));
        QVERIFY(f.Create(data.view()));
        const QList<QByteArray> lines = fileLines(f.path());
        QCOMPARE(lines.size(), 2);
        QCOMPARE(cellCount(lines[1]), 5);
        QVERIFY(lines[1].contains("\ta b  c\t"));
    }

    void periodFromTheEdit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("period"); // 0: refused
        QTest::newRow("3, stored already") << "3" << 3;
        QTest::newRow("4") << "4" << 4;
        QTest::newRow("blanks") << " 12 " << 12;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-2" << 0;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("trailing letters") << "5s" << 0;
        QTest::newRow("ms overflow") << "2147484" << 0; // x 1000 is past a timer's int
        QTest::newRow("longest") << "2147483" << 2147483;
    }
    void periodFromTheEdit()
    {
        QFETCH(QString, text);
        QFETCH(int, period);
        QCOMPARE(ParseTrendPeriod(text).value_or(0), period);
        const bool valid = rec->EditTrendTimeChange(text);
        QCOMPARE(valid, period > 0);
        QCOMPARE(host->saves, valid && period != 3 ? 1 : 0); // 3 is in start.ini
        QCOMPARE(settings->readInteger("trends", "time", -1), valid ? period : 3);
    }

    // The stored period sets Timer1 at Start; a later edit leaves the running one alone.
    void timerFollowsStoredPeriod()
    {
        startRecording();
        QCOMPARE(rec->timer1().interval(), 3000);
        QCOMPARE(rec->timer1().objectName(), QStringLiteral("Timer1"));
        QVERIFY(rec->EditTrendTimeChange("1"));
        QCOMPARE(rec->timer1().interval(), 3000);
        now = now.addSecs(1);
        startRecording();
        QCOMPARE(rec->timer1().interval(), 1000);
        // A real tick asks for the next row.
        rec->LiveDataRead(data.view());
        QVERIFY(!rec->rowRequested());
        QTRY_VERIFY_WITH_TIMEOUT(rec->rowRequested(), 10000);
        // A hand-edited start.ini with no usable period: the default of Start.
        settings->writeString("trends", "time", "0");
        now = now.addSecs(1);
        startRecording();
        QCOMPARE(rec->timer1().interval(), 5000);
    }

    // Start asks for the tags and returns; the recording begins when they are read, or
    // when the wait runs out.
    void startDoesNotWait()
    {
        rec->ButtonStartFileClick();
        QCOMPARE(host->tagRequests, 1);
        QVERIFY(host->panel10Shown);
        QCOMPARE(host->panel10, russian(Msg::n127));
        QVERIFY(!rec->recording());
        QVERIFY(rec->trendFileName().isEmpty());
        QVERIFY(QFileInfo(trendsFolder()).isDir());
        rec->AllTagsRead();
        QVERIFY(rec->recording());
        QVERIFY(!host->panel10Shown);
        QCOMPARE(host->status1, russian(Msg::n128) + rec->trendFileName());
        QCOMPARE(host->hint, russian(Msg::n129) + rec->trendFileName());

        // The cycle never reports: the recording begins after the wait anyway.
        rec->ButtonStopFileClick();
        rec->setTagWaitMs(50);
        now = now.addSecs(1);
        rec->ButtonStartFileClick();
        QCOMPARE(host->tagRequests, 2);
        QVERIFY(!rec->recording());
        QTRY_VERIFY_WITH_TIMEOUT(rec->recording(), 10000);
        QVERIFY(rec->trendFileName().endsWith("13_05_10.txt"));
        // A late report starts nothing twice.
        const QString name = rec->trendFileName();
        rec->AllTagsRead();
        QCOMPARE(rec->trendFileName(), name);

        // Stop before the tags came cancels the Start.
        rec->ButtonStopFileClick();
        rec->setTagWaitMs(25000);
        rec->ButtonStartFileClick();
        rec->ButtonStopFileClick();
        QVERIFY(!rec->preparing());
        QVERIFY(!host->panel10Shown);
        rec->AllTagsRead();
        QVERIFY(!rec->recording());
    }

    void startNeedsLinkAndFolder()
    {
        host->link = false;
        rec->ButtonStartFileClick();
        QCOMPARE(host->tagRequests, 0);
        QVERIFY(!host->panel10Shown);
        QVERIFY(!QFileInfo::exists(trendsFolder()));
        // A file where the folder should be: the folder cannot be made.
        host->link = true;
        QFile blocker(trendsFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        rec->ButtonStartFileClick();
        QCOMPARE(host->panel10, russian(Msg::n130) + QDir::toNativeSeparators(trendsFolder()));
        QVERIFY(host->panel10Shown);
        QCOMPARE(host->tagRequests, 0);
        QVERIFY(!rec->preparing());
        QVERIFY(!rec->recording());
        // The folder already there is used as it is.
        QVERIFY(QFile::remove(trendsFolder()));
        QVERIFY(QDir().mkdir(trendsFolder()));
        startRecording();
    }

    void fileDeletedWhileRecording()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        tickAndServe();
        QCOMPARE(fileLines(rec->trendFileName()).size(), 4);
        QVERIFY(QFile::remove(rec->trendFileName()));
        data.statuses[0] = 0; // the fresh header takes the sensors registered now
        tickAndServe();
        const QList<QByteArray> lines = fileLines(rec->trendFileName());
        QCOMPARE(lines.size(), 3);
        QVERIFY(
            lines[0].startsWith(Cp1251::encode(QStringLiteral("Дата\tВремя\tКанал 1\tКанал 2\t"))));
        QCOMPARE(cellCount(lines[2]), 6);
    }

    // A tick while the link is down pauses the recording: no row, panel 1 says why. The
    // first online step goes on in the same file with a row of its own; Stop still ends it.
    void tickWhileLinkDownPauses()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        const QString name = rec->trendFileName();
        host->link = false;
        rec->Timer1Timer();
        rec->Timer1Timer();
        QVERIFY(rec->recording());
        QVERIFY(rec->paused());
        QVERIFY(!rec->rowRequested());
        QCOMPARE(host->status1, russian(Msg::n140) + name);
        rec->LiveDataRead(data.view()); // nothing was asked for
        QCOMPARE(fileLines(name).size(), 3);

        host->link = true;
        QVERIFY(rec->LiveDataWanted());
        QVERIFY(!rec->paused());
        QCOMPARE(host->status1, russian(Msg::n128) + name);
        rec->LiveDataRead(data.view());
        QCOMPARE(rec->trendFileName(), name);
        QCOMPARE(fileLines(name).size(), 4);
        QVERIFY(!rec->LiveDataWanted());

        host->link = false;
        rec->Timer1Timer();
        rec->ButtonStopFileClick();
        QVERIFY(!rec->recording());
        QVERIFY(!rec->paused());
        QCOMPARE(host->status1, QString());
        QCOMPARE(host->hint, russian(Msg::n129) + name);
        host->link = true;
        QVERIFY(!rec->LiveDataWanted());
    }

    // A failed read of the live data gives its row the time and empty cells; before the
    // header exists nothing can be written, and the row waits for a good read.
    void failedReadGivesEmptyRow()
    {
        startRecording();
        rec->LiveDataFailed();
        QVERIFY(!QFile::exists(rec->trendFileName()));
        QVERIFY(rec->rowRequested());
        rec->LiveDataRead(data.view());
        rec->Timer1Timer();
        rec->LiveDataFailed();
        QVERIFY(!rec->rowRequested());
        const QList<QByteArray> lines = fileLines(rec->trendFileName());
        QCOMPARE(lines.size(), 4);
        const QString when = now.toString("dd.MM.yy") + u'\t' + now.toString("HH:mm:ss");
        QCOMPARE(lines[3], (when + "\t\t\t\t\r").toLatin1()); // sensors 2, 5, 9: empty
    }

    void stopWithRowPendingStillWritesIt()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        rec->Timer1Timer();
        rec->Timer1Timer(); // two ticks before a good cycle: one row
        rec->ButtonStopFileClick();
        QCOMPARE(host->status1, QString());
        QVERIFY(rec->rowRequested());
        rec->LiveDataRead(data.view());
        QCOMPARE(fileLines(rec->trendFileName()).size(), 4);
        rec->LiveDataRead(data.view()); // nothing more is asked for
        QCOMPARE(fileLines(rec->trendFileName()).size(), 4);
    }

    void newStartGivesNewFile()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        const QString first = rec->trendFileName();
        const QByteArray old = fileBytes(first);
        now = now.addSecs(61);
        startRecording();
        QVERIFY(rec->trendFileName() != first);
        QVERIFY(rec->trendFileName().endsWith("06_12_26____13_06_10.txt"));
        rec->LiveDataRead(data.view());
        QCOMPARE(fileLines(rec->trendFileName()).size(), 3);
        QCOMPARE(fileBytes(first), old);
        // Within the same second: another name, never the old file continued.
        const QString second = rec->trendFileName();
        startRecording();
        QVERIFY(rec->trendFileName().endsWith("06_12_26____13_06_10_2.txt"));
        rec->LiveDataRead(data.view());
        QCOMPARE(fileLines(second).size(), 3);
        QCOMPARE(fileLines(rec->trendFileName()).size(), 3);
        // A file of that name left by an earlier run is not continued either.
        now = now.addSecs(60);
        const QString earlier = trendsFolder() + "/06_12_26____13_07_10.txt";
        QFile f(earlier);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier");
        f.close();
        startRecording();
        QVERIFY(rec->trendFileName().endsWith("06_12_26____13_07_10_2.txt"));
        rec->LiveDataRead(data.view());
        QCOMPARE(fileBytes(earlier), QByteArray("earlier"));
    }

    // A row that cannot be written is said in panel 1; the next tick tries again.
    void rowFailureIsReported()
    {
        startRecording();
        rec->LiveDataRead(data.view());
        const QString name = rec->trendFileName();
        // Folder removed.
        QVERIFY(QDir(trendsFolder()).removeRecursively());
        tickAndServe();
        QVERIFY(host->status1.startsWith(russian(Msg::n131) + name + " ("));
        QVERIFY(rec->recording());
        QVERIFY(!rec->rowRequested());
        QVERIFY(QDir().mkdir(trendsFolder()));
        tickAndServe();
        QCOMPARE(host->status1, russian(Msg::n128) + name);
        QCOMPARE(fileLines(name).size(), 3);
        // Made read-only (root writes anyway: then only the case below is tried).
        QVERIFY(QFile::setPermissions(name, QFileDevice::ReadOwner));
        QFile probe(name);
        if (!probe.open(QIODevice::Append)) {
            const QByteArray before = fileBytes(name);
            tickAndServe();
            QVERIFY(host->status1.startsWith(russian(Msg::n131)));
            QCOMPARE(fileBytes(name), before);
        }
        probe.close();
        QVERIFY(QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        tickAndServe();
        QCOMPARE(host->status1, russian(Msg::n128) + name);
        QCOMPARE(fileLines(name).size(), 4);
        // Something in the file's place that cannot be opened for appending.
        const QString moved = name + ".away";
        QVERIFY(QFile::rename(name, moved));
        QVERIFY(QDir().mkdir(name));
        tickAndServe();
        QVERIFY(host->status1.startsWith(russian(Msg::n131) + name));
        QVERIFY(rec->recording());
        QVERIFY(QDir().rmdir(name));
        QVERIFY(QFile::rename(moved, name));
        tickAndServe();
        QCOMPARE(host->status1, russian(Msg::n128) + name);
        QCOMPARE(fileLines(name).size(), 5);
    }

    // A full disk: the write fails at the flush.
    void fullDiskIsReported()
    {
#ifdef Q_OS_LINUX
        TrendFile full(QStringLiteral("/dev/full"));
        QString why;
        QVERIFY(!full.AppendRow(data.view(), now, &why));
        QVERIFY(!why.isEmpty());
        startRecording();
        QVERIFY(QFile::link("/dev/full", rec->trendFileName()));
        rec->LiveDataRead(data.view());
        QVERIFY(host->status1.startsWith(russian(Msg::n131) + rec->trendFileName()));
        QVERIFY(rec->recording());

        // Room for part of a row only: the part is taken back, the next row starts on a
        // line of its own.
        TrendFile f(folder->filePath("part.txt"));
        QVERIFY(f.WriteRow(data.view(), now));
        const QByteArray before = fileBytes(f.path());
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        rlimit tight = old;
        tight.rlim_cur = rlim_t(before.size() + 10);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &tight) == 0);
        const bool written = f.AppendRow(data.view(), now, &why);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &old) == 0);
        QVERIFY(!written);
        QCOMPARE(fileBytes(f.path()), before);
        QVERIFY(f.AppendRow(data.view(), now));
        QCOMPARE(fileLines(f.path()).size(), 4);
#else
        QSKIP("needs /dev/full");
#endif
    }

    // Rows read back: times of this century, texts and missing cells as gaps, rows of the
    // old shifting kind not taken for more than they hold.
    void readerTakesFilesBack()
    {
        const QByteArray bytes =
            Cp1251::encode(QStringLiteral("Дата\tВремя\tКанал 2\tКанал 5\tКанал 9\t\r\n"
                                          "Дата\tВремя\tПечь\t\tT9\t\r\n"
                                          "06.12.26\t13:05:09\t102\tНЕТ ПИТАНИЯ\t65526\t\r\n"
                                          "06.12.26\t13:05:12\t-------\t\tНЕИСПРАВЕН!!\t\r\n"
                                          "06.12.26\t13:05:15\t7\t\r\n"
                                          "garbage\t\r\n"
                                          "31.02.26\t13:05:18\t1\t2\t3\t\r\n"
                                          "06.12.26\t13:05:21\t1\t2\t3\t4\t99999\n"));
        QString why;
        const auto t = ParseTrend(bytes, &why);
        QVERIFY2(t, qPrintable(why));
        QCOMPARE(t->times.size(), 4);
        QCOMPARE(t->times[0], kStart);
        QCOMPARE(t->skippedLines, 2);
        QCOMPARE(t->channels.size(), 3);
        QCOMPARE(t->channels[0].tag, QStringLiteral("Печь"));
        QCOMPARE(t->channels[1].tag, QString());
        QCOMPARE(t->channels[2].sensor, 9);
        using V = QList<std::optional<quint16>>;
        QCOMPARE(t->channels[0].values, (V{102, {}, 7, 1}));
        QCOMPARE(t->channels[1].values, (V{{}, {}, {}, 2}));
        QCOMPARE(t->channels[2].values, (V{65526, {}, {}, 3}));

        for (const char *bad : {"", "Дата\tВремя\t\r\n", "Date\tTime\t\r\nDate\tTime\t\r\n",
                                "Дата\tВремя\tКанал x\t\r\nДата\tВремя\t\t\r\n",
                                "Дата\tВремя\tКанал 1\t\r\nfoo\t\r\n"}) {
            QVERIFY2(!ParseTrend(Cp1251::encode(QString::fromUtf8(bad)), &why), bad);
            QVERIFY(!why.isEmpty());
        }
        // No sensor registered: a file of dates and times only.
        const auto empty = ParseTrend(Cp1251::encode(
            QStringLiteral("Дата\tВремя\t\r\nДата\tВремя\t\r\n06.12.26\t13:05:09\t\r\n")));
        QVERIFY(empty && empty->channels.isEmpty() && empty->times.size() == 1);
    }

    // Damaged files: never a crash, and every channel keeps one value per row read.
    void readerSurvivesDamage()
    {
        TrendFile f(folder->filePath("good.txt"));
        for (int row = 0; row < 5; ++row)
            QVERIFY(f.WriteRow(data.view(), now.addSecs(row)));
        const QByteArray good = fileBytes(f.path());
        quint32 seed = 11;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
        const char bytes[] = {'\t', '\r', '\n', '0', '.', ':', '\xC4', '\0'};
        int parsed = 0;
        for (int i = 0; i < 3000; ++i) {
            QByteArray b = good;
            for (int k = 1 + int(next() % 4); k > 0; --k) {
                const int at = int(next() % b.size());
                switch (next() % 3) {
                case 0:
                    b[at] = bytes[next() % 8];
                    break;
                case 1:
                    b.insert(at, bytes[next() % 8]);
                    break;
                default:
                    b.truncate(at + 1);
                    break;
                }
            }
            const auto t = ParseTrend(b);
            if (!t)
                continue;
            ++parsed;
            for (const TrendChannel &c : t->channels)
                QCOMPARE(c.values.size(), t->times.size());
        }
        QVERIFY(parsed > 0);
    }

    // What the recorder writes, the reader gives back, for any mix of statuses.
    // A writer killed mid-row left part of a row: the next writer to append takes it
    // back, so its rows do not continue the cut one and every row reads back whole.
    void partRowOfAKilledWriterIsTakenBack()
    {
        const QString path = folder->filePath("cut.txt");
        TrendFile first(path);
        QVERIFY(first.WriteRow(data.view(), now));
        QVERIFY(first.WriteRow(data.view(), now.addSecs(1)));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray whole = f.readAll();
        f.close();
        const qsizetype rowStart = whole.lastIndexOf("\r\n", whole.size() - 3) + 2;
        QVERIFY(f.resize(rowStart + (whole.size() - rowStart) / 2)); // half the second row

        TrendFile next(path);
        QVERIFY(next.AppendRow(data.view(), now.addSecs(2)));
        QVERIFY(next.AppendRow(data.view(), now.addSecs(3)));
        const auto t = ReadTrendFile(path);
        QVERIFY(t);
        QCOMPARE(t->skippedLines, 0);
        QCOMPARE(t->times, (QList<QDateTime>{now, now.addSecs(2), now.addSecs(3)}));
    }

    void writtenFilesReadBack()
    {
        quint32 seed = 7;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
        const quint16 codes[] = {0, 1, 2, 10, 20, 30, 40, 5};
        TrendFile f(folder->filePath("mix.txt"));
        QList<QList<std::optional<quint16>>> expected;
        QList<int> header;
        for (int row = 0; row < 50; ++row) {
            for (int i = 0; i < 12; ++i) {
                data.statuses[i] = codes[next() % 8];
                data.temperatures[i] = quint16(next() * 2);
            }
            QVERIFY(f.WriteRow(data.view(), now.addSecs(row)));
            if (row == 0)
                header = f.sensors();
            QList<std::optional<quint16>> values;
            for (int s : header)
                values.append(data.statuses[s - 1] <= 2
                                  ? std::optional<quint16>(data.temperatures[s - 1])
                                  : std::nullopt);
            expected.append(values);
        }
        const auto t = ReadTrendFile(f.path());
        QVERIFY(t);
        QCOMPARE(t->times.size(), 50);
        QCOMPARE(t->times.last(), now.addSecs(49));
        for (int row = 0; row < 50; ++row)
            for (int c = 0; c < header.size(); ++c)
                QCOMPARE(t->channels[c].values[row], expected[row][c]);
    }
};

QTEST_GUILESS_MAIN(TestTrends)
#include "tst_trends.moc"
