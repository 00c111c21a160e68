#include "LinkReporter.h"
#include "LongWait.h"
#include "LookupText.h"
#include "MbapFrames.h"
#include "MemIniFile.h"
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "ModbusMaster.h"
#include "ScriptedSlave.h"
#include "SerialLink.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QTest>
#include <arpa/inet.h>
#include <climits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <vector>
#include <unistd.h>

Q_DECLARE_METATYPE(ModbusFrame::Verdict)

namespace {

// A socket listening on a free loopback port, its address in *a; -1 on failure.
int loopbackListener(int backlog, sockaddr_in *a)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    *a = {};
    a->sin_family = AF_INET;
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(a), len) != 0 ||
        ::listen(listener, backlog) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr *>(a), &len) != 0)
        return -1;
    return listener;
}

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

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const quint16 kOne[] = {1};

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

    void answerLengths_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<int>("length");
        const QByteArray read4 = ModbusFrame::readRequest(100, 0x400, 4);
        const QByteArray write16 = ModbusFrame::writeMultipleRequest(100, 5, 1, kOne);
        const QByteArray write6 = ModbusFrame::writeSingleRequest(100, 5, 1);
        QTest::newRow("nothing yet") << read4 << QByteArray() << 0;
        QTest::newRow("address only") << read4 << hex("64") << 0;
        QTest::newRow("no count yet") << read4 << hex("6403") << 0;
        QTest::newRow("count as asked") << read4 << hex("640308") << 13;
        QTest::newRow("exception") << read4 << hex("6483") << 5;
        QTest::newRow("other count") << read4 << hex("640302") << -1;
        QTest::newRow("odd count") << read4 << hex("640307") << -1;
        QTest::newRow("other address") << read4 << hex("65") << -1;
        QTest::newRow("noise, then address") << read4 << hex("ff64") << -1;
        QTest::newRow("address twice") << read4 << hex("6464") << -1;
        QTest::newRow("other function") << read4 << hex("6406") << -1;
        QTest::newRow("exception of another function") << read4 << hex("6486") << -1;
        QTest::newRow("write 16") << write16 << hex("6410") << 8;
        QTest::newRow("write 6 exception") << write6 << hex("6486") << 5;
        QTest::newRow("write 6 answered as 16") << write6 << hex("6410") << -1;
    }
    void answerLengths()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, received);
        QFETCH(int, length);
        QCOMPARE(ModbusFrame::answerLength(ModbusFrame::expectedAnswer(request), received), length);
    }

    // Every answer that is not the one asked for is refused, judged on the bytes that
    // arrived and nothing else.
    void answerJudgement_data()
    {
        using V = ModbusFrame::Verdict;
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<V>("verdict");
        QTest::addColumn<int>("code");
        const QByteArray read1 = ModbusFrame::readRequest(100, 0x300, 1);
        const QByteArray read3 = ModbusFrame::readRequest(100, 0x100, 3);
        const QByteArray read4 = ModbusFrame::readRequest(100, 0x400, 4);
        const QByteArray good1 = withCrc("6403020007");
        QTest::newRow("good") << read1 << good1 << V::Good << 0;
        QTest::newRow("nothing") << read1 << QByteArray() << V::Missing << 0;
        QTest::newRow("address only") << read1 << hex("64") << V::Missing << 0;
        QTest::newRow("header only") << read1 << hex("640302") << V::Missing << 0;
        QTest::newRow("short: no data, CRC of the header") << read1 << hex("640302b12e") << V::Missing << 0;
        QTest::newRow("short: CRC missing") << read1 << good1.left(6) << V::Missing << 0;
        QTest::newRow("over-long") << read1 << good1 + hex("00") << V::WrongData << 0;
        QTest::newRow("two answers") << read1 << good1 + good1 << V::WrongData << 0;
        QTest::newRow("fewer registers than asked") << read4 << hex("640302b12e") << V::WrongData << 0;
        QTest::newRow("more registers than asked") << read1 << withCrc("64030400070008") << V::WrongData << 0;
        QTest::newRow("odd byte count") << read3 << withCrc("640305000100020a") << V::WrongData << 0;
        QTest::newRow("wrong address") << read1 << withCrc("6503020007") << V::WrongAddress << 0;
        QTest::newRow("exception") << read1 << withCrc("648302") << V::Exception << 2;
        QTest::newRow("exception, bad CRC") << read1 << hex("6483020000") << V::BadCrc << 0;
        QTest::newRow("exception of another function") << read1 << withCrc("648604") << V::Exception << 4;
        QTest::newRow("bad CRC") << read1 << hex("64030200070000") << V::BadCrc << 0;
        QTest::newRow("noise before the frame") << read1 << hex("ff") + good1 << V::BadCrc << 0;
        QTest::newRow("address as noise") << read1 << hex("64") + good1 << V::BadCrc << 0;
        QTest::newRow("noise only") << read1 << hex("13f0a1") << V::BadCrc << 0;
        QTest::newRow("answer to a write") << read1 << withCrc("640600050007") << V::WrongData << 0;

        const QByteArray write6 = ModbusFrame::writeSingleRequest(100, 5, 7);
        const QByteArray write16 = ModbusFrame::writeMultipleRequest(100, 5, 1, kOne);
        QTest::newRow("write echo") << write6 << write6 << V::Good << 0;
        QTest::newRow("write other value") << write6 << withCrc("640600050008") << V::Good << 0;
        QTest::newRow("write other register") << write6 << withCrc("640600060007") << V::WrongData << 0;
        QTest::newRow("write short") << write6 << write6.left(7) << V::Missing << 0;
        QTest::newRow("write over-long") << write6 << write6 + hex("00") << V::WrongData << 0;
        QTest::newRow("write bad CRC") << write6 << hex("6406000500070000") << V::BadCrc << 0;
        QTest::newRow("write exception") << write6 << withCrc("648603") << V::Exception << 3;
        QTest::newRow("write wrong address") << write6 << withCrc("630600050007") << V::WrongAddress << 0;
        QTest::newRow("write noise before") << write6 << hex("00") + write6 << V::BadCrc << 0;
        QTest::newRow("write 16 confirmed") << write16 << withCrc("641000050001") << V::Good << 0;
        QTest::newRow("write 16 other count") << write16 << withCrc("641000050002") << V::WrongData << 0;
        QTest::newRow("write 16 answered by a read") << write16 << good1 << V::WrongData << 0;
    }
    void answerJudgement()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, received);
        QFETCH(ModbusFrame::Verdict, verdict);
        QFETCH(int, code);
        quint8 exceptionCode = 0;
        QCOMPARE(ModbusFrame::judgeAnswer(request, received, &exceptionCode), verdict);
        QCOMPARE(int(exceptionCode), code);
    }

    // Hand-edited time-outs may be huge; nothing may overflow.
    void portTimeoutArithmetic()
    {
        QCOMPARE(SerialLink::TotalTimeoutMs(100, 8, 1000), 1800);
        QCOMPARE(SerialLink::TotalTimeoutMs(0, 1024, 0), 0);
        QCOMPARE(SerialLink::TotalTimeoutMs(2097152, 1024, 1000), INT_MAX);
        QCOMPARE(SerialLink::TotalTimeoutMs(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
        QCOMPARE(SerialLink::TotalTimeoutMs(-5, 1024, 30), 30);
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
        for (const char *net :
             {"tcp://10.0.0.7:4001", "mbtcp://gw.plant:502", "mbtcp://[::1]:1502"})
            QCOMPARE(SerialLink::PortPathFromSetting(QString::fromLatin1(net)),
                     QString::fromLatin1(net));
    }

    // Requests go out with the header of Modbus TCP: transaction ids count up, protocol 0,
    // the length of unit id and PDU, the RTU address as unit id; no CRC.
    void mbapRequests()
    {
        Mbap::AnswerReader reader;
        QCOMPARE(reader.request(ModbusFrame::readRequest(100, 0x100, 36)),
                 hex("000100000006" "64" "0301000024"));
        const quint16 words[] = {7, 0x1234};
        QCOMPARE(reader.request(ModbusFrame::writeMultipleRequest(100, 0x1010, 2, words)),
                 hex("00020000000b" "64" "10101000020400071234"));
        QCOMPARE(reader.request(ModbusFrame::writeSingleRequest(17, 0x0500, 3)),
                 hex("000300000006" "11" "0605000003"));
        QCOMPARE(reader.lastTransaction(), quint16(3));
        QCOMPARE(Mbap::FromRtu(hex("6403"), 1), QByteArray()); // no frame at all
    }

    // Answers to "read two registers at 0x0400 of module 100", sent as transaction 1, as
    // they arrive (cut where "|" stands) and what the RTU judgement makes of the frame
    // they become. Every bad one is refused; the damaged ones come out as they arrived.
    void mbapAnswers_data()
    {
        using V = ModbusFrame::Verdict;
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("silence"); // the connection falls silent after the stream
        QTest::addColumn<ModbusFrame::Verdict>("verdict");
        QTest::addColumn<QByteArray>("rtu"); // the frame judged; empty: the bytes as they came
        QTest::newRow("valid") << QByteArray("0001000000076403040c360102") << false << V::Good
                               << withCrc("6403040c360102");
        QTest::newRow("valid in pieces") << QByteArray("00|0100000007|6403|040c360102") << false
                                         << V::Good << withCrc("6403040c360102");
        QTest::newRow("exception")
            << QByteArray("000100000003648302") << false << V::Exception << withCrc("648302");
        // The gateway's own word that the controller did not answer: no answer.
        QTest::newRow("gateway: no path") << QByteArray("00010000000364830a") << false
                                          << V::Missing << QByteArray("-");
        QTest::newRow("gateway: device silent") << QByteArray("00010000000364830b") << false
                                                << V::Missing << QByteArray("-");
        QTest::newRow("wrong unit id") << QByteArray("0001000000076503040c360102") << false
                                       << V::WrongAddress << withCrc("6503040c360102");
        QTest::newRow("wrong transaction id")
            << QByteArray("0002000000076403040c360102") << false << V::BadCrc << QByteArray();
        QTest::newRow("wrong protocol id")
            << QByteArray("0001005a00076403040c360102") << false << V::BadCrc << QByteArray();
        QTest::newRow("length beyond the byte count")
            << QByteArray("0001000000096403040c3601020000") << false << V::BadCrc << QByteArray();
        QTest::newRow("length short of the byte count")
            << QByteArray("0001000000056403040c360102") << false << V::BadCrc << QByteArray();
        QTest::newRow("length 1") << QByteArray("0001000000016403040c360102") << false << V::BadCrc
                                  << QByteArray();
        QTest::newRow("length 255")
            << QByteArray("0001000000ff6403040c360102") << true << V::BadCrc << QByteArray();
        QTest::newRow("write answer to a read") << QByteArray("000100000006640604000002") << false
                                                << V::WrongData << withCrc("640604000002");
        QTest::newRow("truncated")
            << QByteArray("0001000000076403040c") << true << V::Missing << hex("6403040c");
        QTest::newRow("truncated header")
            << QByteArray("00010000") << true << V::Missing << QByteArray("-");
        QTest::newRow("noise before it")
            << QByteArray("a50001000000076403040c360102") << false << V::BadCrc << QByteArray();
    }
    void mbapAnswers()
    {
        QFETCH(QByteArray, stream);
        QFETCH(bool, silence);
        QFETCH(ModbusFrame::Verdict, verdict);
        QFETCH(QByteArray, rtu);
        const QByteArray request = ModbusFrame::readRequest(100, 0x0400, 2);
        Mbap::AnswerReader reader;
        reader.request(request);
        QByteArray out;
        QByteArray sent;
        for (const QByteArray &piece : stream.split('|')) {
            sent += QByteArray::fromHex(piece);
            out += reader.feed(QByteArray::fromHex(piece));
        }
        if (silence)
            out += reader.silence();
        QVERIFY(!reader.pending());
        QCOMPARE(out, rtu.isEmpty() ? sent : rtu == "-" ? QByteArray() : rtu);
        quint8 code = 0;
        QCOMPARE(ModbusFrame::judgeAnswer(request, out, &code), verdict);
        if (verdict == ModbusFrame::Verdict::Exception)
            QCOMPARE(code, quint8(2));
    }

    // A truncated answer still waiting when the retry goes out is not completed by the
    // retry's answer: its header's length would take those bytes in, and the frame made of
    // the two would pass for a whole answer with header bytes among its values.
    void mbapTruncatedAnswerIsNotCompletedByTheNext()
    {
        const QByteArray a = ModbusFrame::readRequest(100, 0x0400, 2);
        Mbap::AnswerReader reader;
        reader.request(a);
        QCOMPARE(reader.feed(hex("0001000000076403040c")), QByteArray()); // cut short
        reader.request(a); // the retry
        QCOMPARE(reader.feed(hex("0002000000076403040c360102")), withCrc("6403040c360102"));
    }

    // The other way round: the retry's answer comes cut short and an earlier answer
    // follows before the silence that would end it. Glued, the retry's header would frame
    // that answer's header bytes as values. In whatever pieces the bytes come, the only
    // frame a master can take whole from them is the late answer to the same request.
    void mbapCutAnswerIsNotGluedToALateOne_data()
    {
        QTest::addColumn<QByteArray>("stream");
        const QByteArray late = "0002000000076403040c360102"; // the first attempt's
        QTest::newRow("cut in its values") << QByteArray("0003000000076403040c|") + late;
        QTest::newRow("cut after its header") << QByteArray("00030000000764|") + late;
        QTest::newRow("late answer in pieces")
            << QByteArray("0003000000076403040c36|0002000000|076403040c360102");
        QTest::newRow("one piece") << QByteArray("0003000000076403040c") + late;
        // The answer to the request given up on before: another register's value.
        QTest::newRow("abandoned answer glued")
            << QByteArray("0003000000076403040c|00010000000564030200ff");
        // Headers that pass unrecognised: damaged, or behind a stray byte.
        QTest::newRow("damaged transaction id")
            << QByteArray("0003000000076403040c|8002000000076403040c360102");
        QTest::newRow("stray byte in front") << QByteArray("0003000000076403040c|ea") + late;
        // The late answer damaged, behind stray bytes and cut short too: its first bytes
        // complete the cut retry's frame, and the connection falls silent two bytes on.
        QTest::newRow("damaged, stray bytes, cut")
            << QByteArray("0003000000076403040c|ea9554" "0002");
        QTest::newRow("damaged, bytes after")
            << QByteArray("0003000000076403040c|ea9554" "00025a0000076403");
        QTest::newRow("forgotten transaction")
            << QByteArray("0003000000076403040c|7777000000076403040c360102");
    }
    void mbapCutAnswerIsNotGluedToALateOne()
    {
        QFETCH(QByteArray, stream);
        const QByteArray a = ModbusFrame::readRequest(100, 0x0400, 2);
        Mbap::AnswerReader reader;
        reader.request(ModbusFrame::readRequest(100, 0x0100, 1)); // 1, given up on
        reader.request(a);                                        // 2
        reader.request(a);                                        // 3, its retry
        QByteArray out;
        for (const QByteArray &piece : stream.split('|'))
            out += reader.feed(QByteArray::fromHex(piece));
        out += reader.silence();
        const QByteArray good = withCrc("6403040c360102");
        for (qsizetype at = 0; at + good.size() <= out.size(); ++at)
            if (ModbusFrame::judgeAnswer(a, out.mid(at, good.size())) ==
                ModbusFrame::Verdict::Good)
                QCOMPARE(out.mid(at, good.size()).toHex(), good.toHex());
    }

    // A whole answer whose last values could begin another answer's header waits for the
    // bytes after it or for silence, and is then good.
    void mbapAnswerEndingLikeAHeaderWaitsForSilence()
    {
        const QByteArray a = ModbusFrame::readRequest(100, 0x0400, 2);
        Mbap::AnswerReader reader;
        reader.request(ModbusFrame::readRequest(100, 0x0100, 1)); // 1, given up on
        reader.request(a);                                        // 2
        QCOMPARE(reader.feed(hex("0002000000076403040c360001")), QByteArray()); // 1 ends it
        QVERIFY(reader.pending());
        QCOMPARE(reader.silence(), withCrc("6403040c360001"));
        reader.request(a); // 3: the next bytes settle it, as the start of another frame
        QCOMPARE(reader.feed(hex("0003000000076403040c360001") + hex("00")), QByteArray());
        QCOMPARE(reader.feed(hex("0400000005")), withCrc("6403040c360001"));
        reader.request(a); // 4: or as bytes that start none: the frame took in foreign bytes
        QCOMPARE(reader.feed(hex("0004000000076403040c360001") + hex("00")), QByteArray());
        QCOMPARE(reader.feed(hex("ffff")), hex("0004000000076403040c36000100ffff"));
    }

    // An answer to a request given up on is dropped; one to an earlier attempt of the same
    // request is its answer too (as a late answer on the line is); an answer twice is no
    // answer the second time.
    void mbapTransactions()
    {
        const QByteArray a = ModbusFrame::readRequest(100, 0x0400, 2);
        const QByteArray b = ModbusFrame::readRequest(100, 0x0100, 1);
        const QByteArray answerA = hex("000000076403040c360102"),
                         answerB = hex("0000000564030200ff");
        auto tid = [](quint16 t) {
            return QByteArray::fromHex(QByteArray::number(t, 16).rightJustified(4, '0'));
        };
        Mbap::AnswerReader reader;
        reader.request(a); // 1, given up on
        reader.request(b); // 2
        QCOMPARE(reader.feed(tid(1) + answerA), QByteArray());
        QCOMPARE(reader.feed(tid(2) + answerB), withCrc("64030200ff"));
        QCOMPARE(reader.feed(tid(2) + answerB), tid(2) + answerB); // answered already
        reader.request(a);                                         // 3, given up on
        reader.request(a);                                         // 4, its retry
        QCOMPARE(reader.feed(tid(3) + answerA + tid(4) + answerA),
                 withCrc("6403040c360102") + withCrc("6403040c360102"));
        // A frame from before a reconnection is none of the new connection's.
        reader.request(b); // 5
        reader.reset();
        QCOMPARE(reader.feed(tid(5) + answerB), tid(5) + answerB);
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
        QVERIFY2(link->ConnectPort(slave->path()), qPrintable(link->portError()));
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
        settings->writeInteger("connect", "receive", kLongWaitMs);
        QVERIFY(link->ApplyTimeouts());
        ModbusReadRecord rec;
        Watchdog dog(*link);
        QVERIFY(master->ReadRegisters(rec, 0x0100, 36));
        QVERIFY(!dog.fired()); // did not wait for the receive time-out
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
        QTest::newRow("truncated") << QByteArray::fromHex("64030200") << text(Msg::n89) << 0;
        QTest::newRow("other count, truncated") << QByteArray::fromHex("640304000100") << text(Msg::n92) << 0;
        QTest::newRow("short") << QByteArray::fromHex("640302b12e") << text(Msg::n89) << 0;
        QTest::newRow("over-long") << withCrc("6403020001") + '\0' << text(Msg::n93) << 0;
        QTest::newRow("more registers") << withCrc("64030400010002") << text(Msg::n93) << 0;
        QTest::newRow("odd count") << withCrc("640303000100") << text(Msg::n93) << 0;
        QTest::newRow("noise before") << QByteArray::fromHex("00") + withCrc("6403020001") << text(Msg::n92) << 0;
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

    // The frames of the faults on a line, delivered as a line delivers them: in pieces.
    void noiseEndsOnSilenceAndTheRetryWaitsForIt()
    {
        // A stray byte, then a whole answer of 4 registers arriving in pieces faster than
        // the 10 ms inter-frame gap; the second request gets a clean answer.
        slave->setScript([](const QByteArray &r, int n) {
            ScriptedSlave::Answer a{readAnswer(r, 0x0140)};
            if (n == 1) {
                a.bytes.prepend(char(0xFF));
                a.pieceBytes = 3;
                a.pieceDelayMs = 4;
            }
            return a;
        });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0x0140, 4));
        QCOMPARE(reporter->attempts, (QList<int>{1, 2}));
        QCOMPARE(rec.errorText, text(Msg::n92));
        QCOMPARE(rec.values[3], quint16(0x0143));
        QCOMPARE(slave->requests.size(), 2);
        // The retry went out only after the noisy answer had ended.
        QCOMPARE(slave->requestsWhileAnswering, 0);
        QVERIFY(reporter->linkDown.isEmpty());
    }

    void shortAnswerIsNeverReadFromTheClearedBuffer()
    {
        // Byte count 2, then the CRC of the header: no data at all.
        slave->setScript([](const QByteArray &r, int n) {
            return ScriptedSlave::Answer{n == 1 ? hex("640302b12e") : readAnswer(r, 0)};
        });
        ModbusReadRecord rec;
        rec.values.fill(0xBEEF);
        QVERIFY(master->ReadRegisters(rec, 0x0300, 1));
        QCOMPARE(reporter->attempts, (QList<int>{1, 2}));
        QCOMPARE(rec.errorText, text(Msg::n89));
        QCOMPARE(rec.values[0], quint16(0));
        // Asked for four registers, the same frame is somebody else's data.
        QVERIFY(master->ReadRegisters(rec, 0x0400, 4));
        slave->setScript([](const QByteArray &, int) { return ScriptedSlave::Answer{hex("640302b12e")}; });
        rec.values.fill(0xBEEF);
        QVERIFY(!master->ReadRegisters(rec, 0x0400, 4));
        QCOMPARE(rec.errorText, text(Msg::n93));
        QCOMPARE(rec.values[0], quint16(0xBEEF));
    }

    void retryTakesALateAnswerToTheSameRequest()
    {
        // The first answer comes after the time-out, the second request gets none: only a
        // retry that does not drain can use the late answer.
        slave->setScript([](const QByteArray &r, int n) {
            return n == 1 ? ScriptedSlave::Answer{readAnswer(r, 100), 220} : ScriptedSlave::Answer{};
        });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0, 2));
        QCOMPARE(reporter->attempts, (QList<int>{1, 2}));
        QCOMPARE(rec.values[1], quint16(101));
        QCOMPARE(slave->requests.size(), 2);
    }

    void silentSlaveIsLostAfterThreeWaits()
    {
        ModbusReadRecord rec;
        QVERIFY(!master->ReadRegisters(rec, 0, 2));
        QCOMPARE(slave->requests.size(), 3);
        QCOMPARE(reporter->linkDown, QStringList{text(Msg::n89)});
    }

    void abortEndsTheWaitAndStopsTheRetries()
    {
        settings->writeInteger("connect", "receive", kLongWaitMs);
        ModbusReadRecord rec;
        QTimer::singleShot(40, link.get(), [this] { link->Abort(); });
        Watchdog dog(*link);
        QVERIFY(!master->ReadRegisters(rec, 0, 2));
        QVERIFY(!dog.fired());
        dog.stop();
        QVERIFY(link->Aborted());
        QTest::qWait(30);
        QCOMPARE(slave->requests.size(), 1);
        QVERIFY(reporter->linkDown.isEmpty());
        QVERIFY(reporter->attempts.isEmpty());
        // Refused until resumed: nothing goes out.
        ModbusWriteRecord w;
        QVERIFY(!master->WriteRegister(w, 5, 1));
        QVERIFY(!master->ReadRegisters(rec, 0, 2));
        QVERIFY(!link->Pause(10));
        QTest::qWait(30);
        QCOMPARE(slave->requests.size(), 1);
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{readAnswer(r, 9)}; });
        link->Resume();
        settings->writeInteger("connect", "receive", 150);
        QVERIFY(master->ReadRegisters(rec, 0, 2));
        QCOMPARE(rec.values[0], quint16(9));
    }

    void abortEndsPausesAndDrains()
    {
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{readAnswer(r, 9)}; });
        settings->writeInteger("connect", "sleep", kLongWaitMs);
        ModbusReadRecord rec;
        QTimer::singleShot(40, link.get(), [this] { link->Abort(); });
        {
            Watchdog dog(*link);
            master->ReadRegisters(rec, 0, 2); // the pause after the answer is cut short
            QVERIFY(!dog.fired());
        }
        QCOMPARE(slave->requests.size(), 1);

        // A drain before a different request: abandoned, then aborted while draining.
        settings->writeInteger("connect", "sleep", 0);
        settings->writeInteger("connect", "receive", kLongWaitMs);
        link->ClosePort(); // a reopened port takes transfers again
        QVERIFY2(link->ConnectPort(slave->path()), qPrintable(link->portError()));
        QVERIFY(!link->Aborted());
        slave->setScript([](const QByteArray &, int) { return ScriptedSlave::Answer{}; });
        QVERIFY(link->BeginTransaction(ModbusFrame::readRequest(100, 0, 1), kLongWaitMs, false));
        QVERIFY(link->Write(ModbusFrame::readRequest(100, 0, 1), 50));
        QByteArray answer;
        QVERIFY(!link->Read(answer, ModbusFrame::expectedAnswer(ModbusFrame::readRequest(100, 0, 1)),
                            1024, 20, true));
        QTimer::singleShot(40, link.get(), [this] { link->Abort(); });
        Watchdog dog(*link);
        QVERIFY(!link->BeginTransaction(ModbusFrame::readRequest(100, 1, 1), kLongWaitMs, false));
        QVERIFY(!dog.fired());
    }

    void hugePortTimeoutsStillRead()
    {
        settings->writeInteger("connect", "cto2", 2097152);
        settings->writeInteger("connect", "cto3", 2147483647);
        settings->writeInteger("connect", "cto4", 2097152);
        QVERIFY2(link->ConnectPort(slave->path()), qPrintable(link->portError()));
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{readAnswer(r, 3)}; });
        ModbusReadRecord rec;
        QVERIFY(master->ReadRegisters(rec, 0, 2));
        QCOMPARE(rec.values[1], quint16(4));
        ModbusWriteRecord w;
        slave->setScript([](const QByteArray &r, int) { return ScriptedSlave::Answer{echo(r)}; });
        QVERIFY(master->WriteRegister(w, 5, 1));
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
        settings->writeInteger("connect", "receive", kLongWaitMs);
        ModbusReadRecord rec;
        Watchdog dog(*link);
        QVERIFY(!master->ReadRegisters(rec, 0, 1));
        QCOMPARE(rec.errorText, text(Msg::n88));
        QVERIFY(!dog.fired());
    }

    // RTU over TCP: a device server that sends every answer twice, the copy 5 ms later.
    // The copy lies unread in the system while the program is busy between two requests;
    // it is dropped before the next request, as clearing a serial port's input drops it
    // there, and never taken for that request's answer.
    void networkBytesHeldBySystemAreDroppedBeforeARequest()
    {
        sockaddr_in a{};
        const int listener = loopbackListener(1, &a);
        QVERIFY(listener >= 0);
        // The n-th request's two registers both hold n.
        std::thread server([listener] {
            const int c = ::accept(listener, nullptr, nullptr);
            char request[8];
            for (quint16 n = 1; n <= 3 && ::recv(c, request, 8, MSG_WAITALL) == 8; ++n) {
                QByteArray answer = QByteArray::fromHex("640304");
                ModbusFrame::appendWord(answer, n);
                ModbusFrame::appendWord(answer, n);
                AppendModbusCrc(answer);
                for (int copy = 0; copy < 2; ++copy) {
                    ::send(c, answer.constData(), size_t(answer.size()), 0);
                    QThread::msleep(5);
                }
            }
            ::close(c);
        });
        MemIniFile tcpSettings{QString()};
        tcpSettings.writeInteger("connect", "receive", 500);
        Recorder tcpReporter;
        SerialLink tcpLink(tcpSettings, tcpReporter);
        ModbusMaster tcpMaster(tcpLink, tcpSettings, tcpReporter);
        QVERIFY(tcpLink.ConnectPort(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(a.sin_port))));
        ModbusReadRecord rec;
        for (quint16 n = 1; n <= 3; ++n) {
            QVERIFY2(tcpMaster.ReadRegisters(rec, 0x0400, 2), qPrintable(rec.errorText));
            QCOMPARE(rec.values[0], n);
            QCOMPARE(tcpReporter.attempts.last(), 1);
            QThread::msleep(50); // busy elsewhere: nothing is read meanwhile
        }
        tcpLink.ClosePort();
        server.join();
        ::close(listener);
    }

    // A connection that is neither made nor refused (a listener that takes no more: its
    // queue is full) is waited for in the event loop, not blocked on: timers run, the wait
    // ends at its deadline with the open failure, and closing the window ends it at once.
    void pendingConnectionIsWaitedForWithoutBlocking()
    {
        sockaddr_in a{};
        const int listener = loopbackListener(0, &a);
        QVERIFY(listener >= 0);
        std::vector<int> fillers; // fill the queue; later connections stay unanswered
        for (int i = 0; i < 4; ++i) {
            const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
            fillers.push_back(f);
        }
        const QString port = QStringLiteral("mbtcp://127.0.0.1:%1").arg(ntohs(a.sin_port));
        MemIniFile tcpSettings{QString()};
        tcpSettings.writeInteger("connect", "receive", 300); // below the floor of 1 s
        Recorder tcpReporter;
        SerialLink tcpLink(tcpSettings, tcpReporter);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(50);
        QElapsedTimer t;
        t.start();
        QVERIFY(!tcpLink.ConnectPort(port));
        // The floor of the wait: a lower bound, which no slow machine can break.
        QVERIFY2(t.elapsed() >= 950, qPrintable(QString::number(t.elapsed())));
        QVERIFY(ticks > 0); // timers ran meanwhile
        QCOMPARE(tcpReporter.linkDown, QStringList{text(Msg::n87)});
        tcpSettings.writeInteger("connect", "receive", kLongWaitMs);
        QTimer::singleShot(100, &tcpLink, [&] { tcpLink.Abort(); });
        Watchdog dog(tcpLink);
        QVERIFY(!tcpLink.ConnectPort(port));
        QVERIFY(!dog.fired());
        QCOMPARE(tcpReporter.linkDown.size(), 1);
        for (int f : fillers)
            ::close(f);
        ::close(listener);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
