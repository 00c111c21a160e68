// Link statistics and the frame log: the counters against the simulator's own count of the
// faults it put on the line, the ring, the frames decoded from hex, the table made of them.
#include "FrameLog.h"
#include "FrameLogModel.h"
#include "LinkReporter.h"
#include "LinkStatistics.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusMaster.h"
#include "SerialLink.h"
#include "SimProcess.h"

#include <QRegularExpression>
#include <QTest>

namespace {

struct Recorder : LinkReporter {
    int linkDowns = 0;
    void SetLinkDown(const QString &) override { ++linkDowns; }
    void ShowAttemptNumber(int) override {}
};

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

// The simulator's "stats" reply, key by key.
QMap<QString, qint64> simStats(SimProcess &sim)
{
    QMap<QString, qint64> out;
    const QString reply = sim.command(QStringLiteral("stats"));
    for (const QString &item : reply.split(u' ', Qt::SkipEmptyParts).mid(1))
        out[item.section(u'=', 0, 0)] = item.section(u'=', 1).toLongLong();
    return out;
}

// FAULT lines of the traffic log by kind ("exception 2" counts as exception).
QMap<QString, int> faultsLogged(const SimProcess &sim)
{
    QMap<QString, int> out;
    for (const QString &f : sim.logEntries(QStringLiteral("FAULT")))
        ++out[f.section(u' ', 0, 0)];
    return out;
}

// Failure counters of the statistics by the name of the simulator fault that makes them.
quint64 counted(const LinkStatistics &s, const QString &counter)
{
    if (counter == QLatin1String("timeouts"))
        return s.timeouts;
    if (counter == QLatin1String("crc"))
        return s.crcErrors;
    if (counter == QLatin1String("address"))
        return s.wrongAddresses;
    if (counter == QLatin1String("exceptions"))
        return s.exceptionTotal();
    if (counter == QLatin1String("truncated"))
        return s.truncated;
    if (counter == QLatin1String("noise"))
        return s.noise;
    if (counter == QLatin1String("bytecount"))
        return s.byteCountErrors;
    return ~quint64(0);
}

quint64 failuresCounted(const LinkStatistics &s)
{
    return s.timeouts + s.crcErrors + s.wrongAddresses + s.exceptionTotal() + s.truncated +
           s.noise + s.byteCountErrors + s.sendFailures;
}

} // namespace

class TestLinkStatistics : public QObject {
    Q_OBJECT

private slots:
    // The ring keeps the newest frames in order, never more than it holds.
    void ringIsBoundedAndOrdered()
    {
        FrameLog log(10);
        const QByteArray request = hex("6403010000017BF5");
        for (int i = 0; i < 7; ++i)
            log.RecordAttempt(1000 + i, request, true, 1001 + i, hex("640302000185CB"),
                              AttemptOutcome::Good, {});
        QCOMPARE(log.size(), 10);
        QCOMPARE(log.firstSeq(), quint64(4));
        QCOMPARE(log.nextSeq(), quint64(14));
        qint64 last = 0;
        for (quint64 s = log.firstSeq(); s < log.nextSeq(); ++s) {
            const FrameLog::Frame &f = log.at(s);
            QCOMPARE(f.seq, s);
            QVERIFY(f.timeMs >= last);
            last = f.timeMs;
            QCOMPARE(f.direction, s % 2 ? FrameLog::Direction::Answer
                                        : FrameLog::Direction::Request);
        }
        QCOMPARE(log.at(log.firstSeq()).timeMs, 1002);
        // A request that never left has no answer frame.
        log.RecordAttempt(2000, request, false, 2000, QByteArray(), AttemptOutcome::SendFailed,
                          LoggedFailure{&Msg::n88});
        QCOMPARE(log.nextSeq(), quint64(15));
        QCOMPARE(log.at(14).direction, FrameLog::Direction::Request);
        log.setEnabled(false);
        log.RecordAttempt(3000, request, true, 3000, QByteArray(), AttemptOutcome::Timeout, {});
        QCOMPARE(log.nextSeq(), quint64(15));
    }

    // Frames decoded from hex vectors: what the table shows in function, start and count.
    void decodesFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("request"); // empty: the frame is the request
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("exception");
        const QByteArray read = hex("640301000024" "0000");
        QTest::newRow("read request") << read << QByteArray() << 3 << 0x100 << 36 << -1;
        QTest::newRow("write single") << hex("640605000001" "0000") << QByteArray() << 6 << 0x500
                                      << 1 << -1;
        QTest::newRow("write multiple")
            << hex("6410100000020400010002" "0000") << QByteArray() << 16 << 0x1000 << 2 << -1;
        QTest::newRow("read answer") << hex("6403040001000200 00") << read << 3 << 0x100 << 2 << -1;
        QTest::newRow("exception answer") << hex("6483020000") << read << 0x83 << -1 << -1 << 2;
        QTest::newRow("another function") << hex("6406050000010000") << read << 6 << -1 << -1
                                          << -1;
        QTest::newRow("one byte") << hex("64") << read << -1 << -1 << -1 << -1;
        QTest::newRow("short request") << hex("6403") << QByteArray() << 3 << -1 << -1 << -1;
    }
    void decodesFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, request);
        const DecodedFrame d = request.isEmpty() ? DecodeRequest(frame) : DecodeAnswer(frame, request);
        QTEST(d.function, "function");
        QTEST(d.start, "start");
        QTEST(d.count, "count");
        QTEST(d.exceptionCode, "exception");
    }

    // Answers sorted into the counters from hex vectors: the failure texts lump causes
    // together, the counters must not. The vectors end before their CRC; "crc" says what
    // follows: the right one, a damaged one, or none.
    void sortsAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("crc");
        QTest::addColumn<int>("outcome");
        // Read of one register at 0x0300, slave 100; the good answer holds 0x0001.
        QTest::newRow("good") << hex("6403020001") << "right" << int(AttemptOutcome::Good);
        QTest::newRow("bad crc") << hex("6403020001") << "damaged" << int(AttemptOutcome::BadCrc);
        QTest::newRow("truncated") << hex("640302") << "none" << int(AttemptOutcome::Truncated);
        QTest::newRow("noise only") << hex("17A9C3FF02") << "none" << int(AttemptOutcome::Noise);
        QTest::newRow("noise before") << hex("17A96403020001") << "right" << int(AttemptOutcome::Noise);
        QTest::newRow("other slave") << hex("6503020001") << "right" << int(AttemptOutcome::WrongAddress);
        QTest::newRow("exception") << hex("648302") << "right" << int(AttemptOutcome::Exception);
        QTest::newRow("byte count") << hex("64030400010002") << "right" << int(AttemptOutcome::ByteCount);
    }
    void sortsAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, crc);
        QFETCH(int, outcome);
        const qsizetype body = answer.size();
        if (crc != QLatin1String("none")) {
            // The CRC of the frame's own bytes: noise before a frame is not part of it.
            const qsizetype from = outcome == int(AttemptOutcome::Noise) ? 2 : 0;
            QByteArray frame = answer.mid(from);
            AppendModbusCrc(frame);
            answer = answer.left(from) + frame;
            if (crc == QLatin1String("damaged"))
                answer[body + 1] = char(answer[body + 1] ^ 0x5A);
        }
        const QByteArray request = ModbusFrame::readRequest(100, 0x300, 1);
        quint8 code = 0;
        QCOMPARE(int(OutcomeOfAnswer(request, answer, &code)), outcome);
        if (outcome == int(AttemptOutcome::Exception))
            QCOMPARE(code, quint8(2));
    }

    // Wire time and share: 11 bits a character, the gap before an answer.
    void wireTimeAndCycles()
    {
        // A 36-register read at 9600: 8 + 3.5 + 77 characters = 101.40625 ms.
        QCOMPARE(LinkStatistics::WireMs(8, 77, 9600), 88.5 * 11 * 1000 / 9600);
        QCOMPARE(LinkStatistics::WireMs(8, 0, 9600), 8 * 11 * 1000.0 / 9600); // unanswered
        LinkStatistics s;
        s.Reset();
        s.CountAttempt(AttemptOutcome::Timeout, 0, 8, 0, 9600, false); // before the cycle
        s.CycleStarted();
        for (int i = 0; i < 4; ++i)
            s.CountAttempt(AttemptOutcome::Good, 0, 8, 77, 9600, false);
        s.CycleEnded(500);
        QCOMPARE(s.lastWireShare, 4 * 88.5 * 11 * 1000 / 9600 / 500);
        s.CountAttempt(AttemptOutcome::Exception, 3, 8, 5, 9600, false);
        s.CountAttempt(AttemptOutcome::Good, 0, 8, 77, 9600, true);
        s.CycleEnded(300);
        QCOMPARE(s.cycles, quint64(2));
        QCOMPARE(s.lastCycleMs, qint64(300));
        QCOMPARE(s.worstCycleMs, qint64(500));
        QCOMPARE(s.meanCycleMs(), 400.0);
        QCOMPARE(s.requests, quint64(7));
        QCOMPARE(s.retries, quint64(1));
        QCOMPARE(s.exceptions.at(3), quint64(1));
        // A cycle shorter than its own traffic (tick rounding) counts as all wire.
        s.CountAttempt(AttemptOutcome::Good, 0, 8, 77, 9600, false);
        s.CycleEnded(100);
        QCOMPARE(s.lastWireShare, 1.0);
        s.sinceMs = 0; // a reset stamps its own time, whatever the clock did meanwhile
        s.Reset();
        QCOMPARE(s.requests, quint64(0));
        QCOMPARE(s.cycles, quint64(0));
        QVERIFY(s.exceptions.empty());
        QVERIFY(s.sinceMs > 0);
    }

    // The table follows the ring: new rows at the end, rows the ring dropped gone, the
    // filter keeps both frames of failed attempts, a pause holds what is shown.
    void modelFollowsTheRing()
    {
        MemIniFile settings{QString()};
        FrameLog log(8);
        FrameLogModel model(log, settings);
        const QByteArray request = ModbusFrame::readRequest(100, 0x300, 1);
        auto good = [&](qint64 t) {
            log.RecordAttempt(t, request, true, t + 1, hex("640302000185CB"),
                              AttemptOutcome::Good, {});
        };
        auto failed = [&](qint64 t) {
            log.RecordAttempt(t, request, true, t + 1, QByteArray(), AttemptOutcome::Timeout,
                              LoggedFailure{&Msg::n89});
        };
        good(1000);
        failed(2000);
        QCOMPARE(model.rowCount(), 0); // only a refresh takes frames
        model.Refresh();
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(model.data(model.index(0, FrameLogModel::Function)).toString(),
                 QStringLiteral("03 чтение регистров"));
        QCOMPARE(model.data(model.index(0, FrameLogModel::Start)).toString(), QStringLiteral("0x0300"));
        QCOMPARE(model.data(model.index(1, FrameLogModel::Bytes)).toString(),
                 QStringLiteral("64 03 02 00 01 85 CB"));
        QCOMPARE(model.data(model.index(1, FrameLogModel::Direction)).toString(),
                 QStringLiteral("Ответ"));
        QCOMPARE(model.data(model.index(3, FrameLogModel::Failure)).toString(),
                 LookupText(settings, Msg::n89));
        QVERIFY(model.data(model.index(3, 0), FrameLogModel::FailureRole).toBool());
        QVERIFY(!model.data(model.index(1, 0), FrameLogModel::FailureRole).toBool());
        QVERIFY(model.RowText(2).contains(QRegularExpression(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\tЗапрос\\t03 "))));

        model.setFailuresOnly(true);
        QCOMPARE(model.rowCount(), 2);
        model.setFailuresOnly(false);
        QCOMPARE(model.rowCount(), 4);

        model.setPaused(true);
        for (int i = 0; i < 5; ++i)
            good(3000 + i);
        model.Refresh();
        QCOMPARE(model.rowCount(), 4); // paused: what was shown stays
        model.setPaused(false);        // the ring now holds the last 8 frames only
        QCOMPARE(model.rowCount(), 8);
        QCOMPARE(model.data(model.index(0, 0)).toString(),
                 model.data(model.index(0, 0)).toString());
        for (int r = 0; r < model.rowCount(); ++r)
            QVERIFY(!model.data(model.index(r, 0), FrameLogModel::FailureRole).toBool());

        // English texts from the settings' language.
        settings.writeInteger("language", "lang", 1);
        settings.writeString("lang1", "n324", "Request");
        model.ApplyTexts();
        QCOMPARE(model.data(model.index(0, FrameLogModel::Direction)).toString(),
                 QStringLiteral("Request"));
    }

    // N transactions against the simulator with one fault switched on at a seeded rate:
    // every counter agrees with the simulator's own count of requests and of the faults
    // it logged, and every failed attempt is in the frame log with its failure text.
    void countersAgreeWithTheSimulator_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("counter");
        QTest::addColumn<bool>("paced");
        QTest::addColumn<int>("transactions");
        QTest::newRow("noanswer") << "noanswer:rate=0.1" << "timeouts" << false << 150;
        QTest::newRow("badcrc") << "badcrc:rate=0.1" << "crc" << false << 300;
        QTest::newRow("wrongaddr") << "wrongaddr:rate=0.1" << "address" << false << 300;
        QTest::newRow("exception 2") << "exception:rate=0.1,code=2" << "exceptions" << false << 300;
        QTest::newRow("exception B") << "exception:rate=0.1,code=11" << "exceptions" << false << 200;
        QTest::newRow("truncated") << "truncated:rate=0.1" << "truncated" << false << 300;
        QTest::newRow("noise") << "noise:rate=0.1" << "noise" << false << 300;
        QTest::newRow("lost") << "lost:rate=0.1" << "timeouts" << false << 150;
        // A late answer is drained before the next request; a retry struck as well would
        // take the first one's answer as its own, so every 7th request only.
        QTest::newRow("late") << "late:every=7,ms=300" << "timeouts" << false << 150;
        QTest::newRow("noise paced 19200") << "noise:rate=0.1" << "noise" << true << 150;
        QTest::newRow("truncated paced 19200") << "truncated:rate=0.1" << "truncated" << true << 150;
        QTest::newRow("badcrc paced 19200") << "badcrc:rate=0.1" << "crc" << true << 150;
    }
    void countersAgreeWithTheSimulator()
    {
        QFETCH(QString, fault);
        QFETCH(QString, counter);
        QFETCH(bool, paced);
        QFETCH(int, transactions);
        QStringList args{"--seed", "7", "--sensors", "36", "--fault", fault};
        if (paced)
            args << "--pace" << "--baud" << "19200";
        SimProcess sim;
        QVERIFY2(sim.start(args), qPrintable(sim.errorText()));
        MemIniFile settings{QString()};
        settings.writeString("connect", "port", sim.ptyPath());
        settings.writeInteger("connect", "speed", paced ? 1 : 0);
        settings.writeInteger("connect", "stopbits", 0);
        settings.writeInteger("connect", "receive", 200);
        Recorder reporter;
        SerialLink link(settings, reporter);
        ModbusMaster master(link, settings, reporter);
        QVERIFY(link.ConnectPort(sim.ptyPath()));
        // Two different reads in turn, so an abandoned answer is drained before the next.
        ModbusReadRecord rec;
        for (int i = 0; i < transactions; ++i)
            master.ReadRegisters(rec, i % 2 ? 0x0300 : 0x0100, i % 2 ? 1 : 36);
        const LinkStatistics &s = master.statistics();
        const QMap<QString, qint64> simCount = simStats(sim);
        const QMap<QString, int> logged = faultsLogged(sim);
        const QString kind = fault.section(u':', 0, 0);
        qInfo("%s: %d transactions; ours: %llu requests, %llu good, %llu %s, %llu retries, "
              "%llu link losses; simulator: %lld requests, %lld faults, %d FAULT %s lines",
              qPrintable(fault), transactions, s.requests, s.goodAnswers, counted(s, counter),
              qPrintable(counter), s.retries, s.linkLosses, simCount.value("requests"),
              simCount.value("faults"), logged.value(kind), qPrintable(kind));
        QVERIFY(logged.value(kind) >= 5); // the fault did strike
        QCOMPARE(logged.size(), 1);
        QCOMPARE(qint64(s.requests), simCount.value("requests"));
        QCOMPARE(simCount.value("ignored"), 0);
        // Every fault struck is counted. Unpaced, nothing else is; a paced simulator
        // descheduled on a busy machine leaves real gaps inside answers, as many as the
        // machine's load makes, which the master rightly counts as failures of their own.
        const quint64 extra = failuresCounted(s) - quint64(logged.value(kind));
        QVERIFY2(failuresCounted(s) >= quint64(logged.value(kind)) && (paced || extra == 0),
                 qPrintable(QString::number(extra)));
        QVERIFY(counted(s, counter) >= quint64(logged.value(kind)));
        if (!paced) {
            QCOMPARE(counted(s, counter), quint64(logged.value(kind)));
            QCOMPARE(failuresCounted(s), counted(s, counter)); // nothing counted elsewhere
        }
        QCOMPARE(qint64(s.goodAnswers), simCount.value("requests") - qint64(failuresCounted(s)));
        QCOMPARE(s.retries, s.requests - quint64(transactions));
        QCOMPARE(s.linkLosses, quint64(reporter.linkDowns));
        if (kind == QLatin1String("exception")) {
            const int code = fault.section(u'=', -1).toInt();
            QCOMPARE(s.exceptions.size(), size_t(1));
            QCOMPARE(s.exceptions.at(code), quint64(logged.value(kind)));
        }
        // The frame log holds every attempt: a request and an answer frame each.
        const FrameLog &log = master.frameLog();
        QCOMPARE(quint64(log.nextSeq()), 2 * s.requests);
        quint64 failedAnswers = 0;
        for (quint64 q = log.firstSeq(); q < log.nextSeq(); ++q) {
            const FrameLog::Frame &f = log.at(q);
            if (f.direction != FrameLog::Direction::Answer || f.outcome == AttemptOutcome::Good)
                continue;
            ++failedAnswers;
            QVERIFY(f.failure.key);
        }
        QCOMPARE(failedAnswers, failuresCounted(s));
    }

    // Offline for a while: every request meanwhile is a time-out, and the transactions
    // that failed all three attempts are the link losses.
    void offlineCountsTimeoutsAndLinkLosses()
    {
        SimProcess sim;
        QVERIFY2(sim.start({"--fault", "offline:nth=10,ms=1500"}), qPrintable(sim.errorText()));
        MemIniFile settings{QString()};
        settings.writeInteger("connect", "stopbits", 0);
        settings.writeInteger("connect", "receive", 150);
        Recorder reporter;
        SerialLink link(settings, reporter);
        ModbusMaster master(link, settings, reporter);
        QVERIFY(link.ConnectPort(sim.ptyPath()));
        ModbusReadRecord rec;
        QElapsedTimer t;
        t.start();
        int transactions = 0;
        while (t.elapsed() < 3000 || transactions < 20) {
            master.ReadRegisters(rec, transactions % 2 ? 0x0300 : 0x0100, transactions % 2 ? 1 : 36);
            ++transactions;
        }
        const LinkStatistics &s = master.statistics();
        const int offline = faultsLogged(sim).value("offline");
        qInfo("offline: %d transactions, %llu requests, %llu time-outs, %d FAULT offline lines, "
              "%llu link losses",
              transactions, s.requests, s.timeouts, offline, s.linkLosses);
        QCOMPARE(qint64(s.requests), simStats(sim).value("requests"));
        QCOMPARE(s.timeouts, quint64(offline));
        QVERIFY(s.linkLosses >= 1);
        QCOMPARE(s.linkLosses, quint64(reporter.linkDowns));
        QCOMPARE(s.goodAnswers + s.timeouts, s.requests);
    }
};

QTEST_GUILESS_MAIN(TestLinkStatistics)
#include "tst_linkstats.moc"
