#include "LinkReporter.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "ModbusMaster.h"
#include "ScriptedSlave.h"
#include "SerialLink.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

struct Recorder : LinkReporter {
    QStringList linkDown;
    QList<int> attempts;
    void SetLinkDown(const QString &text) override { linkDown.append(text); }
    void ShowAttemptNumber(int attempt) override { attempts.append(attempt); }
};

QByteArray withCrc(const QByteArray &hex)
{
    QByteArray f = QByteArray::fromHex(hex);
    AppendModbusCrc(f);
    return f;
}

// Answer to a read request: count registers, register i holding base + i.
QByteArray readAnswer(const QByteArray &request, quint16 base, quint8 address = 0)
{
    const quint16 count = ModbusFrame::word(request, 4);
    QByteArray f;
    f.append(char(address ? address : quint8(request[0])));
    f.append(char(3));
    f.append(char(2 * count));
    for (quint16 i = 0; i < count; ++i)
        ModbusFrame::appendWord(f, base + i);
    AppendModbusCrc(f);
    return f;
}

QByteArray echo(const QByteArray &request)
{
    QByteArray f = request.left(6);
    AppendModbusCrc(f);
    return f;
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedSlave> slave;
    std::unique_ptr<MemIniFile> settings;
    std::unique_ptr<Recorder> reporter;
    std::unique_ptr<SerialLink> link;
    std::unique_ptr<ModbusMaster> master;

    QString text(const TextKey &k) { return LookupText(*settings, k); }

private slots:
    void crcCheckValueAndTables()
    {
        QCOMPARE(ModbusCrc16(QByteArray("123456789")), quint16(0x4B37));
        QCOMPARE(ModbusCrc16(QByteArray()), quint16(0xFFFF));
        QVERIFY(ModbusCrcMatches(QByteArray::fromHex("01030000000AC5CD")));
        QVERIFY(!ModbusCrcMatches(QByteArray::fromHex("01030000000ACDC5")));
        QVERIFY(!ModbusCrcMatches(QByteArray::fromHex("01")));
    }

    void requestFrames()
    {
        QCOMPARE(ModbusFrame::readRequest(1, 0, 10).toHex(), QByteArray("01030000000ac5cd"));
        QCOMPARE(ModbusFrame::readRequest(100, 0x0400, 4), withCrc("640304000004"));
        QCOMPARE(ModbusFrame::writeSingleRequest(0x11, 0x0001, 0x0003), withCrc("110600010003"));
        const quint16 values[] = {0x000A, 0x0102};
        QCOMPARE(ModbusFrame::writeMultipleRequest(0x11, 0x0001, 2, values),
                 withCrc("11100001000204000a0102"));
    }

    void answerLengths()
    {
        using ModbusFrame::expectedAnswerLength;
        QCOMPARE(expectedAnswerLength(3, QByteArray::fromHex("64")), 0);
        QCOMPARE(expectedAnswerLength(3, QByteArray::fromHex("6403")), 0);
        QCOMPARE(expectedAnswerLength(3, QByteArray::fromHex("640308")), 13);
        QCOMPARE(expectedAnswerLength(3, QByteArray::fromHex("6483")), 5);
        QCOMPARE(expectedAnswerLength(16, QByteArray::fromHex("6410")), 8);
        QCOMPARE(expectedAnswerLength(6, QByteArray::fromHex("6486")), 5);
    }

    void portNames()
    {
#ifndef Q_OS_WIN
        QCOMPARE(SerialLink::PortPathFromSetting("COM3"), QStringLiteral("/dev/ttyS2"));
        QCOMPARE(SerialLink::PortPathFromSetting("COM12"), QStringLiteral("/dev/ttyS11"));
        QCOMPARE(SerialLink::PortPathFromSetting("COM"), QString());
        QCOMPARE(SerialLink::PortPathFromSetting(""), QString());
        QCOMPARE(SerialLink::PortPathFromSetting("/dev/pts/7"), QStringLiteral("/dev/pts/7"));
#else
        QCOMPARE(SerialLink::PortPathFromSetting("COM12"), QStringLiteral("COM12"));
#endif
    }

    void init()
    {
        slave = std::make_unique<ScriptedSlave>();
        QVERIFY(slave->isOpen());
        settings = std::make_unique<MemIniFile>(QString());
        settings->writeString("connect", "port", slave->path());
        settings->writeInteger("connect", "stopbits", 0);
        settings->writeInteger("connect", "receive", 150);
        reporter = std::make_unique<Recorder>();
        link = std::make_unique<SerialLink>(*settings, *reporter);
        master = std::make_unique<ModbusMaster>(*link, *settings, *reporter);
        QVERIFY(link->ConnectPort(slave->path()));
    }

    void cleanup()
    {
        master.reset();
        link.reset();
        slave.reset();
    }

    void readDecodesAndCompletesOnTheWholeFrame()
    {
        slave->setScript([](const QByteArray &r, int) {
            return ScriptedSlave::Answer{readAnswer(r, 0xFFF6), 0, 3, 30}; // arrives in two parts
        });
        settings->writeInteger("connect", "cto1", 0); // only the frame length ends the read
        QVERIFY(link->ApplyTimeouts());
        ModbusReadRecord rec;
        QElapsedTimer t;
        t.start();
        QVERIFY(master->ReadRegisters(rec, 0x0100, 36));
        QVERIFY(t.elapsed() < 140); // did not wait for the receive time-out
        QCOMPARE(rec.receivedCount, quint8(36));
        QCOMPARE(rec.values[0], quint16(0xFFF6));
        QCOMPARE(rec.values[35], quint16(0xFFF6 + 35));
        QCOMPARE(reporter->attempts, QList<int>{1});
        QCOMPARE(slave->requests.value(0), ModbusFrame::readRequest(100, 0x0100, 36));
    }

    void readFailureTable_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<int>("code");
        QTest::newRow("exception 2") << withCrc("648302") << text(Msg::n91) + "2" << 2;
        QTest::newRow("exception 10") << withCrc("64830a") << text(Msg::n91) + "A" << 10;
        QTest::newRow("wrong address") << withCrc("6503020001") << text(Msg::n90) << 0;
        QTest::newRow("bad crc") << QByteArray::fromHex("64030200010000") << text(Msg::n92) << 0;
        QTest::newRow("no answer") << QByteArray() << text(Msg::n89) << 0;
        QTest::newRow("truncated") << QByteArray::fromHex("640304000100") << text(Msg::n92) << 0;
    }

    void readFailureTable()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        QFETCH(int, code);
        slave->setScript([&](const QByteArray &, int) { return ScriptedSlave::Answer{answer}; });
        ModbusReadRecord rec;
        QVERIFY(!master->ReadRegisters(rec, 0, 1));
        QCOMPARE(rec.errorText, failure);
        QCOMPARE(rec.moduleErrorCode, quint16(code));
        QCOMPARE(slave->requests.size(), 3);
        QCOMPARE(reporter->attempts, (QList<int>{1, 2, 3}));
        QCOMPARE(reporter->linkDown, QStringList{failure});
    }

    void oddByteCountKeepsTheCrcAfterAllBytes()
    {
        slave->setScript([](const QByteArray &, int) {
            return ScriptedSlave::Answer{withCrc("640305000100020a")};
        });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0, 3));
        QCOMPARE(rec.receivedCount, quint8(2));
        QCOMPARE(rec.values[1], quint16(2));
    }

    void lateAnswerIsNeverTakenForTheNextRequest()
    {
        // The first answer comes after the time-out; each answer carries its request number.
        slave->setScript([](const QByteArray &r, int n) {
            return ScriptedSlave::Answer{readAnswer(r, quint16(n * 100)), n == 1 ? 220 : 0};
        });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0, 2));
        QCOMPARE(reporter->attempts, (QList<int>{1, 2}));
        QCOMPARE(rec.values[0], quint16(200));
        QVERIFY(reporter->linkDown.isEmpty());
        // The next transaction starts clean too.
        QVERIFY(master->ReadRegisters(rec, 0, 2));
        QCOMPARE(rec.values[0], quint16(300));
    }

    void strayBytesBeforeARequestAreDiscarded()
    {
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{readAnswer(r, 7)}; });
        slave->send(QByteArray::fromHex("6403020009aaaa"));
        QTest::qWait(20);
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0, 1));
        QCOMPARE(rec.values[0], quint16(7));
    }

    void addressAndTimingAreTakenModulo()
    {
        settings->writeInteger("connect", "adr", 300);
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{readAnswer(r, 1)}; });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0x10, 1));
        QCOMPARE(quint8(slave->requests.value(0)[0]), quint8(44));
        QCOMPARE(rec.slaveAddress, quint8(44));
    }

    void writes_data()
    {
        QTest::addColumn<bool>("multiple");
        QTest::addColumn<QByteArray>("answer"); // empty: the echo of the request
        QTest::addColumn<QString>("failure");   // empty: success
        QTest::newRow("single ok") << false << QByteArray() << QString();
        QTest::newRow("multiple ok") << true << QByteArray() << QString();
        QTest::newRow("single bad crc") << false << QByteArray::fromHex("6406000500070000") << text(Msg::n98);
        QTest::newRow("single other register") << false << withCrc("640600060007") << text(Msg::n99);
        QTest::newRow("single exception") << false << withCrc("648603") << text(Msg::n97) + "3";
        QTest::newRow("single wrong address") << false << withCrc("630600050007") << text(Msg::n96);
        QTest::newRow("multiple other count") << true << withCrc("641000050003") << text(Msg::n99);
        QTest::newRow("multiple exception") << true << withCrc("649002") << text(Msg::n97) + "2";
        QTest::newRow("multiple short") << true << QByteArray::fromHex("6410000500") << text(Msg::n95);
        QTest::newRow("multiple none") << true << QByteArray("-") << text(Msg::n95);
    }

    void writes()
    {
        QFETCH(bool, multiple);
        QFETCH(QByteArray, answer);
        QFETCH(QString, failure);
        slave->setScript([&](const QByteArray &r, int) {
            return ScriptedSlave::Answer{answer.isEmpty() ? echo(r) : answer == "-" ? QByteArray() : answer};
        });
        ModbusWriteRecord rec;
        const quint16 values[] = {7, 8};
        const bool ok = multiple ? master->WriteRegisters(rec, 5, 2, values)
                                 : master->WriteRegister(rec, 5, 7);
        QCOMPARE(ok, failure.isEmpty());
        QCOMPARE(slave->requests.size(), ok ? 1 : 3);
        QCOMPARE(slave->requests.value(0),
                 multiple ? ModbusFrame::writeMultipleRequest(100, 5, 2, values)
                          : ModbusFrame::writeSingleRequest(100, 5, 7));
        if (!ok)
            QCOMPARE(rec.errorText, failure);
        // Single writes report the lost link themselves; multiple writes leave it to the caller.
        QCOMPARE(reporter->linkDown, !ok && !multiple ? QStringList{failure} : QStringList{});
        QVERIFY(reporter->attempts.isEmpty());
    }

    void openFailureIsReportedOnce()
    {
        SerialLink other(*settings, *reporter);
        QVERIFY(!other.ConnectPort("/dev/no-such-port"));
        QVERIFY(!other.ConnectPort("/dev/no-such-port"));
        QVERIFY(!other.ConnectPort(QString()));
        QCOMPARE(reporter->linkDown, QStringList{text(Msg::n87)});
        QVERIFY(other.ConnectPort(slave->path()) == false); // the port is ours already: busy
        QCOMPARE(reporter->linkDown.size(), 1);
        link->ClosePort();
        QVERIFY(other.ConnectPort(slave->path()));
        QVERIFY(!other.portErrorShown());
        other.ClosePort();
        QVERIFY(!other.ConnectPort("/dev/no-such-port"));
        QCOMPARE(reporter->linkDown.size(), 2);
    }

    void closedPortFailsAtOnce()
    {
        link->ClosePort();
        ModbusReadRecord rec;
        QElapsedTimer t;
        t.start();
        QVERIFY(!master->ReadRegisters(rec, 0, 1));
        QCOMPARE(rec.errorText, text(Msg::n88));
        QVERIFY(t.elapsed() < 100);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
