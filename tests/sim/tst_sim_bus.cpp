// Several controllers on one simulated line: each answers at its own address with its own
// values, over a pty (paced and not), RTU frames over TCP and Modbus TCP.
#include "ExpectedFrames.h"
#include "ModbusCrc.h"
#include "SimProcess.h"

#include <QtTest>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// What came back for one request.
struct Reply {
    bool answered = false;
    quint8 from = 0;      // the address in the answer
    quint8 exception = 0; // 0: a normal answer
    QList<quint16> words; // of a read
};

// A master on the simulator's port, whatever the transport: the pty opened raw, or a plain
// TCP connection carrying RTU frames or MBAP frames. Frames are built here byte by byte.
class Wire {
public:
    explicit Wire(const SimProcess &sim) : m_mbap(sim.transport() == SimProcess::Transport::TcpMbap)
    {
        if (sim.transport() == SimProcess::Transport::Pty) {
            m_fd = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
            termios t{};
            if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
                cfmakeraw(&t);
                tcsetattr(m_fd, TCSANOW, &t);
            }
            return;
        }
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(quint16(sim.portSetting().section(u':', -1).toUInt()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Wire()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

    Reply read(quint8 slave, quint16 start, quint16 count, int waitMs = kWaitMs)
    {
        return ask(QByteArray::fromHex(ExpectedFrames::readRequest(slave, start, count).toLatin1()), waitMs);
    }
    Reply write(quint8 slave, quint16 start, const QList<quint16> &words, int waitMs = kWaitMs)
    {
        return ask(QByteArray::fromHex(ExpectedFrames::writeMultiple(slave, start, words).toLatin1()), waitMs);
    }

    // Long enough for a paced answer of 36 registers at 9600 baud many times over; a request
    // nobody answers costs this much.
    static constexpr int kWaitMs = 600;

private:
    // rtu: a whole request frame with its CRC.
    Reply ask(const QByteArray &rtu, int waitMs)
    {
        QByteArray out = rtu;
        if (m_mbap) {
            const QByteArray pdu = rtu.mid(1, rtu.size() - 3);
            ++m_transaction;
            out = QByteArray(1, char(m_transaction >> 8)) + char(m_transaction & 0xFF) + '\0' + '\0' +
                  char((pdu.size() + 1) >> 8) + char((pdu.size() + 1) & 0xFF) + rtu.left(1) + pdu;
        }
        Reply r;
        if (::write(m_fd, out.constData(), size_t(out.size())) != out.size())
            return r;
        QByteArray in;
        const QDeadlineTimer deadline(waitMs);
        qsizetype want = m_mbap ? 6 : 3;
        while (in.size() < want && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            in.append(buf, n);
            want = expectedSize(in);
        }
        if (in.size() < want)
            return r;
        QByteArray frame; // address and PDU
        if (m_mbap) {
            if (quint16(quint8(in[0]) << 8 | quint8(in[1])) != m_transaction || in[2] || in[3])
                return r;
            frame = in.mid(6, want - 6);
        } else {
            if (!ModbusCrcMatches(in.left(want)))
                return r;
            frame = in.left(want - 2);
        }
        r.answered = true;
        r.from = quint8(frame[0]);
        if (quint8(frame[1]) & 0x80) {
            r.exception = quint8(frame[2]);
        } else if (frame[1] == 3) {
            for (qsizetype i = 3; i + 1 < frame.size(); i += 2)
                r.words << quint16(quint8(frame[i]) << 8 | quint8(frame[i + 1]));
        }
        return r;
    }

    // The size of the answer that starts the buffer, as far as it tells.
    qsizetype expectedSize(const QByteArray &in) const
    {
        if (m_mbap)
            return in.size() < 6 ? 6 : 6 + (quint8(in[4]) << 8 | quint8(in[5]));
        if (in.size() < 3)
            return 3;
        if (quint8(in[1]) & 0x80)
            return 5;
        return in[1] == 3 ? 5 + quint8(in[2]) : 8;
    }

    int m_fd = -1;
    bool m_mbap = false;
    quint16 m_transaction = 0;
};

// The registers start..start+count-1 as controller k reads them with named values.
QList<quint16> named(quint16 start, int count, int k)
{
    QList<quint16> out;
    for (int i = 0; i < count; ++i)
        out << NamedValue(quint16(start + i), k);
    return out;
}

// A transport column and a paced column: the pty unpaced and paced, RTU over TCP unpaced
// and paced, Modbus TCP.
void addLineRows()
{
    QTest::addColumn<SimProcess::Transport>("transport");
    QTest::addColumn<bool>("paced");
    QTest::newRow("pty") << SimProcess::Transport::Pty << false;
    QTest::newRow("pty-paced") << SimProcess::Transport::Pty << true;
    QTest::newRow("tcp") << SimProcess::Transport::TcpRtu << false;
    QTest::newRow("tcp-paced") << SimProcess::Transport::TcpRtu << true;
    QTest::newRow("mbtcp") << SimProcess::Transport::TcpMbap << false;
}

bool startOn(SimProcess &sim, bool paced, QStringList args)
{
    if (paced)
        args << QStringLiteral("--pace");
    return sim.start(args);
}

} // namespace

class SimBusTest : public QObject {
    Q_OBJECT

private slots:
    // Each address is answered by its own controller and by nobody else: the answer carries
    // that address, the named values carry the controller's index, the identification its
    // own firmware; an address nobody has stays silent and is logged as ignored.
    void eachControllerAnswersAtItsAddress_data()
    {
        addLineRows();
    }
    void eachControllerAnswersAtItsAddress()
    {
        QFETCH(SimProcess::Transport, transport);
        QFETCH(bool, paced);
        SimProcess sim(transport);
        QVERIFY2(startOn(sim, paced, {"--address", "100", "--address", "7", "--address", "101",
                                      "--named-values", "--fw", "1.2,1.1,1.2", "--hw", "1.0,1.0,2.1"}),
                 qPrintable(sim.errorText()));
        QCOMPARE(sim.command(QStringLiteral("controllers")), QStringLiteral("OK 100 7 101"));
        Wire wire(sim);
        QVERIFY(wire.ok());
        struct Expect { quint8 address; int index; quint16 fw, hw; };
        const Expect controllers[] = {{100, 0, 0x0102, 0x0100}, {7, 1, 0x0101, 0x0100}, {101, 2, 0x0102, 0x0201}};
        // In rotation, twice round, as a master polling the line does.
        for (int round = 0; round < 2; ++round) {
            for (const Expect &e : controllers) {
                const QString row = QStringLiteral("address %1").arg(e.address);
                const Reply id = wire.read(e.address, 0x400, 4);
                QVERIFY2(id.answered, qPrintable(row));
                QCOMPARE(id.from, e.address);
                QCOMPARE(id.words, (QList<quint16>{3126, e.fw, 0, e.hw}));
                for (const quint16 start : {quint16(0x100), quint16(0x140), quint16(0x500)}) {
                    const Reply r = wire.read(e.address, start, 6);
                    QVERIFY2(r.answered && r.from == e.address, qPrintable(row));
                    QCOMPARE(r.words, named(start, 6, e.index));
                }
                // The console reads the same cells as the wire.
                QCOMPARE(ExpectedFrames::numbers(sim.command(e.address, QStringLiteral("get 0x140 6"))),
                         named(0x140, 6, e.index));
            }
        }
        // Firmware 1.1 has no tags; the others do.
        QCOMPARE(wire.read(7, 0x2000, 8).exception, quint8(2));
        QCOMPARE(wire.read(101, 0x2000, 2).words, named(0x2000, 2, 2));
        for (const quint8 nobody : {quint8(102), quint8(8), quint8(99)}) {
            QVERIFY2(!wire.read(nobody, 0x400, 4).answered, qPrintable(QString::number(nobody)));
        }
        QCOMPARE(sim.logEntries(QStringLiteral("IGNORED")),
                 (QStringList{QStringLiteral("address"), QStringLiteral("address"), QStringLiteral("address")}));
        // The log holds each controller's requests as the frames the master sent.
        const QStringList rx = sim.logEntries(QStringLiteral("RX"));
        for (const Expect &e : controllers)
            QVERIFY(rx.contains(ExpectedFrames::readRequest(e.address, 0x500, 6)));
        // Still alive and answering after the ignored requests.
        QVERIFY(wire.read(100, 0x400, 2).answered);
    }

    // Sensors, seeds and firmware per controller: every controller has its own life.
    void perControllerOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QList<int>>("registered"); // sensors registered, per controller
        QTest::newRow("list") << QStringList{"--controllers", "3", "--sensors", "12,36,4"} << QList<int>{12, 36, 4};
        QTest::newRow("one for all") << QStringList{"--controllers", "3", "--sensors", "5"} << QList<int>{5, 5, 5};
        QTest::newRow("from 200") << QStringList{"--address", "200", "--controllers", "2", "--sensors", "0,36"}
                                  << QList<int>{0, 36};
    }
    void perControllerOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QList<int>, registered);
        SimProcess sim;
        QVERIFY2(sim.start(args), qPrintable(sim.errorText()));
        const int first = args.contains(QStringLiteral("--address")) ? 200 : 100;
        Wire wire(sim);
        QList<QList<quint16>> temperatures;
        for (int k = 0; k < registered.size(); ++k) {
            QCOMPARE(sim.command(first + k, QStringLiteral("freeze")), QStringLiteral("OK"));
            const Reply status = wire.read(quint8(first + k), 0x140, 36);
            QVERIFY(status.answered);
            QCOMPARE(int(status.words.count(40)), 36 - registered[k]);
            temperatures << wire.read(quint8(first + k), 0x100, 36).words;
        }
        // One seed counts on per controller: two controllers with sensors never read alike.
        for (int k = 1; k < registered.size(); ++k)
            if (registered[k] && registered[k - 1])
                QVERIFY(temperatures[k] != temperatures[k - 1]);
    }

    // Command lines the simulator must refuse rather than serve something else.
    void refusesWhatCannotBeALine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("list too short") << QStringList{"--controllers", "3", "--sensors", "12,36"};
        QTest::newRow("list too long") << QStringList{"--address", "5", "--fw", "1.2,1.1"};
        QTest::newRow("address twice") << QStringList{"--address", "5", "--address", "5"};
        QTest::newRow("past 247") << QStringList{"--address", "246", "--controllers", "3"};
        QTest::newRow("both ways") << QStringList{"--address", "5", "--address", "6", "--controllers", "2"};
        QTest::newRow("bad item") << QStringList{"--controllers", "2", "--sensors", "4,x"};
    }
    void refusesWhatCannotBeALine()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(SimProcess::simPath(), QStringList{"--pty", "--quiet", "--quit-on-eof"} + args);
        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(!p.readAllStandardOutput().startsWith("PTY"));
        QVERIFY(p.readAllStandardError().startsWith("qor7070-sim: "));
    }

    // Switching one controller off, giving one a fault or an unknown address on the
    // console leaves the others answering.
    void consoleActsOnOneController_data()
    {
        addLineRows();
    }
    void consoleActsOnOneController()
    {
        QFETCH(SimProcess::Transport, transport);
        QFETCH(bool, paced);
        SimProcess sim(transport);
        QVERIFY2(startOn(sim, paced, {"--controllers", "3", "--named-values"}), qPrintable(sim.errorText()));
        Wire wire(sim);
        const auto answering = [&] {
            QList<bool> out;
            for (quint8 a : {100, 101, 102})
                out << wire.read(a, 0x100, 2).answered;
            return out;
        };
        QCOMPARE(answering(), (QList<bool>{true, true, true}));
        QCOMPARE(sim.command(101, QStringLiteral("offline")), QStringLiteral("OK"));
        QCOMPARE(answering(), (QList<bool>{true, false, true}));
        QCOMPARE(sim.command(QStringLiteral("offline")), QStringLiteral("OK")); // the first
        QCOMPARE(answering(), (QList<bool>{false, false, true}));
        QCOMPARE(sim.command(101, QStringLiteral("online")), QStringLiteral("OK"));
        QCOMPARE(sim.command(100, QStringLiteral("online")), QStringLiteral("OK"));
        QCOMPARE(answering(), (QList<bool>{true, true, true}));
        // A fault on one controller strikes its requests only, and says whose they were.
        QVERIFY(sim.command(102, QStringLiteral("fault noanswer")).startsWith(QLatin1String("OK")));
        QCOMPARE(answering(), (QList<bool>{true, true, false}));
        QCOMPARE(sim.command(100, QStringLiteral("faults")), QStringLiteral("OK"));
        QCOMPARE(sim.logEntries(QStringLiteral("FAULT")),
                 (QStringList{"offline @101", "offline @100", "offline @101", "noanswer @102"}));
        // Setting a value reaches the controller named and no other.
        QCOMPARE(sim.command(101, QStringLiteral("set reg 0x1000 300")), QStringLiteral("OK"));
        QCOMPARE(wire.read(101, 0x1000, 2).words, (QList<quint16>{300, NamedValue(0x1001, 1)}));
        QCOMPARE(wire.read(100, 0x1000, 1).words, named(0x1000, 1, 0));
        for (const char *c : {"@103 offline", "@0 online", "@x get 0x100", "@248 line"})
            QVERIFY2(sim.command(QString::fromLatin1(c)).startsWith(QLatin1String("ERR")), c);
    }

    // A connection-block write moves the controller that took it, and only that one: it
    // confirms at its old address, then answers at the new one with its own values.
    void readdressingMovesOneController_data()
    {
        addLineRows();
    }
    void readdressingMovesOneController()
    {
        QFETCH(SimProcess::Transport, transport);
        QFETCH(bool, paced);
        SimProcess sim(transport);
        QVERIFY2(startOn(sim, paced, {"--controllers", "3", "--named-values"}), qPrintable(sim.errorText()));
        Wire wire(sim);
        const Reply confirmed = wire.write(101, 0x500, {110, 4, 0, 1, 9, 0});
        QVERIFY(confirmed.answered);
        QCOMPARE(confirmed.from, quint8(101));
        QCOMPARE(sim.command(QStringLiteral("controllers")), QStringLiteral("OK 100 110 102"));
        QVERIFY(!wire.read(101, 0x100, 2).answered);
        QCOMPARE(wire.read(110, 0x100, 2).words, named(0x100, 2, 1));
        QCOMPARE(wire.read(110, 0x500, 2).words, (QList<quint16>{110, 4}));
        QCOMPARE(wire.read(100, 0x100, 2).words, named(0x100, 2, 0));
        QCOMPARE(wire.read(102, 0x500, 2).words, named(0x500, 2, 2));
        // The moved one paces at its new baud, the others stay at the port's first.
        QCOMPARE(sim.command(110, QStringLiteral("line")),
                 QStringLiteral("OK address=110 baud=115200 parity=0 stopbits=1 channel=9 language=0"));
        QCOMPARE(sim.command(100, QStringLiteral("line")),
                 QStringLiteral("OK address=100 baud=9600 parity=0 stopbits=1 channel=1 language=0"));
        if (paced) {
            // Never faster than the wire at 9600: 8 request bytes, the gap, 77 answer bytes.
            QElapsedTimer t;
            t.start();
            QCOMPARE(wire.read(102, 0x100, 36).words.size(), 36);
            QVERIFY(t.nsecsElapsed() / 1e6 >= (8 + 3.5 + 77) * 11 * 1000.0 / 9600 * 0.97);
        }
        // Moved onto an address another controller has: not refused; the first given answers.
        QVERIFY(wire.write(102, 0x500, {100}).answered);
        QCOMPARE(sim.command(QStringLiteral("controllers")), QStringLiteral("OK 100 110 100"));
        QCOMPARE(wire.read(100, 0x100, 2).words, named(0x100, 2, 0));
        // The console moves one back out of the way.
        QCOMPARE(sim.command(QStringLiteral("address 50")), QStringLiteral("OK"));
        QCOMPARE(wire.read(100, 0x100, 2).words, named(0x100, 2, 2));
        QCOMPARE(wire.read(50, 0x100, 2).words, named(0x100, 2, 0));
    }

    // A broadcast write reaches every controller that is on; nobody answers it.
    void broadcastReachesEveryControllerOn()
    {
        SimProcess sim;
        QVERIFY2(sim.start({"--controllers", "3", "--named-values"}), qPrintable(sim.errorText()));
        QCOMPARE(sim.command(102, QStringLiteral("offline")), QStringLiteral("OK"));
        Wire wire(sim);
        QVERIFY(!wire.write(0, 0x0212, {42}).answered);
        QCOMPARE(sim.command(100, QStringLiteral("get 0x212")), QStringLiteral("OK 42"));
        QCOMPARE(sim.command(101, QStringLiteral("get 0x212")), QStringLiteral("OK 42"));
        QCOMPARE(sim.command(102, QStringLiteral("get 0x212")),
                 QStringLiteral("OK %1").arg(NamedValue(0x212, 2)));
        QCOMPARE(sim.logEntries(QStringLiteral("NOTE")).filter(QStringLiteral("broadcast")),
                 (QStringList{"broadcast written @100", "broadcast written @101"}));
    }
};

QTEST_GUILESS_MAIN(SimBusTest)
#include "tst_sim_bus.moc"
