// qor7070-sim as any Modbus master sees it: libmodbus and mbpoll on its pty, libmodbus's TCP
// client and plain sockets on its Modbus TCP port.
#include "ModbusCrc.h"
#include "ModbusFrames.h"
#include "SimProcess.h"

#include <QtTest>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A libmodbus RTU master on the simulator's line.
class Master {
public:
    Master(const QString &path, int slave = 100, int baud = 9600, int timeoutMs = 500)
        : m_ctx(modbus_new_rtu(path.toLocal8Bit().constData(), baud, 'N', 8, 1))
    {
        if (!m_ctx)
            return;
        modbus_set_slave(m_ctx, slave);
        modbus_set_response_timeout(m_ctx, 0, uint32_t(timeoutMs) * 1000);
        if (modbus_connect(m_ctx) != 0) {
            modbus_free(m_ctx);
            m_ctx = nullptr;
        }
    }
    ~Master()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    bool ok() const { return m_ctx; }
    modbus_t *ctx() const { return m_ctx; }
    // The registers, or an empty list with errno set.
    QList<quint16> read(int start, int count)
    {
        QList<quint16> v(count);
        if (modbus_read_registers(m_ctx, start, count, v.data()) != count)
            return {};
        return v;
    }

private:
    modbus_t *m_ctx;
};

// The pty opened plainly, for bytes no Modbus library would send.
class RawLine {
public:
    explicit RawLine(const QString &path) : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY))
    {
        termios t{};
        if (m_fd >= 0 && tcgetattr(m_fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~RawLine() { ::close(m_fd); }
    bool send(const QByteArray &bytes) { return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    // Whatever arrives within ms (returns early once `want` bytes are in).
    QByteArray receive(int ms, int want = 1 << 20)
    {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (got.size() < want && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }

private:
    int m_fd;
};

QList<quint16> numbers(const QString &reply)
{
    QList<quint16> out;
    for (const QString &w : reply.mid(3).split(u' ', Qt::SkipEmptyParts))
        out << quint16(w.toUInt());
    return out;
}

// A plain TCP connection to the simulator's port (host:port as it printed).
class RawConnection {
public:
    explicit RawConnection(quint16 port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawConnection() { ::close(m_fd); }
    bool connected() const { return m_connected; }
    bool send(const QByteArray &bytes) { return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size(); }
    // Whatever arrives within ms; *closed says the other end closed the connection.
    QByteArray receive(int ms, bool *closed = nullptr)
    {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) {
                if (closed)
                    *closed = true;
                break;
            }
            got.append(buf, n);
        }
        return got;
    }

private:
    int m_fd;
    bool m_connected = false;
};

quint16 portOf(const SimProcess &sim) { return quint16(sim.portSetting().section(u':', -1).toUInt()); }

double stamp(const QString &logLine) { return logLine.section(u' ', 0, 0).toDouble(); }

} // namespace

class SimModbusTest : public QObject {
    Q_OBJECT

private slots:
    void readsEveryBlockAsTheControllerHoldsIt()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        QCOMPARE(sim.command(QStringLiteral("freeze")), QStringLiteral("OK"));
        Master m(sim.ptyPath());
        QVERIFY(m.ok());
        QCOMPARE(m.read(0x400, 4), (QList<quint16>{3126, 0x0102, 0, 0x0100}));
        struct Block { int start, count, items, step; };
        const Block blocks[] = {{0x100, 36, 1, 0}, {0x140, 36, 1, 0}, {0x180, 36, 1, 0},
                                {0x300, 1, 1, 0},  {0x500, 6, 1, 0},  {0x1000, 7, 36, 16},
                                {0x200, 4, 4, 16}, {0x2000, 8, 36, 8}};
        for (const Block &b : blocks) {
            for (int i = 0; i < b.items; ++i) {
                const int start = b.start + i * b.step;
                const QString get = sim.command(QStringLiteral("get %1 %2").arg(start).arg(b.count));
                QVERIFY2(get.startsWith(QLatin1String("OK")), qPrintable(get));
                QCOMPARE(m.read(start, b.count), numbers(get));
            }
        }
        // A fresh controller shows every status a sensor can have.
        const QList<quint16> status = m.read(0x140, 36);
        for (quint16 code : {0, 1, 2, 10, 20, 30, 40})
            QVERIFY2(status.contains(code), qPrintable(QString::number(code)));
        QCOMPARE(m.read(0x500, 6), (QList<quint16>{100, 0, 0, 1, 1, 0}));
        // Every request the master sent is in the log, byte for byte.
        QVERIFY(sim.logEntries(QStringLiteral("RX")).contains(QStringLiteral("64 03 04 00 00 04 4C CC")));
    }

    void writesAreReadBack()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        QVERIFY(m.ok());
        QCOMPARE(modbus_write_register(m.ctx(), 0x0212, 42), 1); // relay 2, word 2
        QCOMPARE(m.read(0x0210, 4).value(2), quint16(42));
        const uint16_t block[7] = {482, 64, 25, 35, 1, 4, 0};
        QCOMPARE(modbus_write_registers(m.ctx(), 0x1000 + 4 * 16, 7, block), 7); // sensor 5
        QCOMPARE(m.read(0x1040, 7), (QList<quint16>{482, 64, 25, 35, 1, 4, 0}));
        const uint16_t tag[8] = {0xD1EA, 0xEBE0, 0xE4, 0, 0, 0, 0, 0};
        QCOMPARE(modbus_write_registers(m.ctx(), 0x2000 + 2 * 8, 8, tag), 8);
        QCOMPARE(m.read(0x2010, 3), (QList<quint16>{0xD1EA, 0xEBE0, 0xE4}));
        QVERIFY(sim.logEntries(QStringLiteral("RX")).contains(QString::fromLatin1(
            ModbusFrame::writeSingleRequest(100, 0x212, 42).toHex(' ').toUpper())));
    }

    void exceptions()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        QVERIFY(m.ok());
        QVERIFY(m.read(0x3000, 1).isEmpty());
        QCOMPARE(errno, EMBXILADD);
        QVERIFY(m.read(0x1000, 8).isEmpty()); // runs into the gap after sensor 1
        QCOMPARE(errno, EMBXILADD);
        QCOMPARE(modbus_write_register(m.ctx(), 0x100, 5), -1); // live data
        QCOMPARE(errno, EMBXILADD);
        uint16_t v[1];
        QCOMPARE(modbus_read_input_registers(m.ctx(), 0x100, 1, v), -1);
        QCOMPARE(errno, EMBXILFUN);
        QCOMPARE(modbus_write_register(m.ctx(), 0x500, 0), -1); // address 0
        QCOMPARE(errno, EMBXILVAL);
        QVERIFY(!m.read(0x400, 4).isEmpty());
    }

    void twoIdentificationRegisters()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--two-id-registers"), QStringLiteral("--fw"), QStringLiteral("1.0"),
                            QStringLiteral("--cfg"), QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_0.ini")}),
                 qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        QVERIFY(m.read(0x400, 4).isEmpty());
        QCOMPARE(errno, EMBXILADD);
        QCOMPARE(m.read(0x400, 2), (QList<quint16>{3126, 0x0100}));
        QVERIFY(m.read(0x2000, 8).isEmpty()); // no tags before 1.2
    }

    void connectionWriteMovesTheSlave()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        {
            Master m(sim.ptyPath());
            const uint16_t words[6] = {7, 4, 0, 1, 9, 1};
            QCOMPARE(modbus_write_registers(m.ctx(), 0x500, 6, words), 6); // confirmed as 100
            QVERIFY(m.read(0x500, 6).isEmpty());
            QCOMPARE(errno, ETIMEDOUT);
        }
        QCOMPARE(sim.command(QStringLiteral("line")),
                 QStringLiteral("OK address=7 baud=115200 parity=0 stopbits=1 channel=9 language=1"));
        Master moved(sim.ptyPath(), 7, 115200);
        QCOMPARE(moved.read(0x500, 6), (QList<quint16>{7, 4, 0, 1, 9, 1}));
        const QStringList ignored = sim.logEntries(QStringLiteral("IGNORED"));
        QCOMPARE(ignored, QStringList{QStringLiteral("address")});
        QCOMPARE(sim.command(QStringLiteral("address 100")), QStringLiteral("OK"));
        QVERIFY(!Master(sim.ptyPath(), 100, 115200).read(0x400, 2).isEmpty());
    }

    // A lost confirmation: the write is carried out all the same, and a connection-block
    // write moves the slave as a confirmed one does.
    void lostConfirmationStillCarriesOutTheWrite()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--fault"), QStringLiteral("lost:nth=1")}), qPrintable(sim.errorText()));
        {
            Master m(sim.ptyPath(), 100, 9600, 300);
            const uint16_t words[6] = {9, 1, 0, 2, 3, 0};
            QCOMPARE(modbus_write_registers(m.ctx(), 0x500, 6, words), -1);
            QCOMPARE(errno, ETIMEDOUT);
        }
        QCOMPARE(sim.logEntries(QStringLiteral("FAULT")), QStringList{QStringLiteral("lost")});
        QCOMPARE(sim.logEntries(QStringLiteral("TX")), QStringList());
        QCOMPARE(sim.command(QStringLiteral("line")),
                 QStringLiteral("OK address=9 baud=19200 parity=0 stopbits=2 channel=3 language=0"));
        Master moved(sim.ptyPath(), 9, 19200);
        QCOMPARE(moved.read(0x500, 6), (QList<quint16>{9, 1, 0, 2, 3, 0}));
    }

    void badRequestsAreIgnored()
    {
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        RawLine line(sim.ptyPath());
        const QByteArray good = ModbusFrame::readRequest(100, 0x400, 2);
        QByteArray badCrc = good;
        badCrc[6] = char(badCrc[6] ^ 0x01);
        const QByteArray cases[] = {badCrc, ModbusFrame::readRequest(99, 0x400, 2), good.left(5),
                                    QByteArray::fromHex("64ee0102")};
        for (const QByteArray &c : cases) {
            QVERIFY(line.send(c));
            QVERIFY(line.receive(60).isEmpty()); // nothing answers, silence ends the frame
        }
        QCOMPARE(sim.logEntries(QStringLiteral("IGNORED")),
                 (QStringList{QStringLiteral("badcrc"), QStringLiteral("address"),
                              QStringLiteral("truncated"), QStringLiteral("garbage")}));
        // Noise glued to a good request: the request is still found and answered.
        QVERIFY(line.send(QByteArray::fromHex("00ff13") + good));
        QCOMPARE(line.receive(500, 9).size(), 9);

        // Random bytes in random pieces must never bring it down.
        std::mt19937 rng(7);
        for (int i = 0; i < 300; ++i) {
            QByteArray junk(int(rng() % 40) + 1, Qt::Uninitialized);
            for (char &b : junk)
                b = char(rng());
            if (i % 10 == 0)
                junk += ModbusFrame::readRequest(100, 0x100, 36);
            QVERIFY(line.send(junk));
            if (i % 25 == 0)
                line.receive(10);
        }
        line.receive(100);
        QVERIFY(sim.isRunning());
        QVERIFY(sim.command(QStringLiteral("stats")).startsWith(QLatin1String("OK requests=")));
        Master m(sim.ptyPath());
        QCOMPARE(m.read(0x400, 2).size(), 2);
    }

    void faultsSwitchOnAndOff_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("error"); // libmodbus errno, 0 when any failure will do
        QTest::addColumn<QString>("logged");
        QTest::newRow("noanswer") << "fault noanswer" << ETIMEDOUT << "noanswer";
        QTest::newRow("badcrc") << "fault badcrc" << int(EMBBADCRC) << "badcrc";
        QTest::newRow("wrongaddr") << "fault wrongaddr" << 0 << "wrongaddr 101";
        QTest::newRow("exception") << "fault exception code=6" << int(EMBXSBUSY) << "exception 6";
        QTest::newRow("truncated") << "fault truncated bytes=4" << 0 << "truncated 4";
        QTest::newRow("noise") << "fault noise bytes=2" << 0 << "noise 2";
        QTest::newRow("late") << "fault late ms=700" << ETIMEDOUT << "late 700";
        QTest::newRow("offline") << "fault offline ms=60000" << ETIMEDOUT << "offline";
        QTest::newRow("lost") << "fault lost" << ETIMEDOUT << "lost";
    }
    void faultsSwitchOnAndOff()
    {
        QFETCH(QString, command);
        QFETCH(int, error);
        QFETCH(QString, logged);
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        Master m(sim.ptyPath(), 100, 9600, 300);
        QVERIFY(!m.read(0x400, 4).isEmpty());
        QVERIFY(sim.command(command).startsWith(QLatin1String("OK")));
        for (int i = 0; i < 2; ++i) {
            QVERIFY(m.read(0x400, 4).isEmpty());
            if (error)
                QCOMPARE(errno, error);
            QTest::qWait(command.contains(QLatin1String("late")) ? 500 : 20);
            modbus_flush(m.ctx());
        }
        const QStringList faults = sim.logEntries(QStringLiteral("FAULT"));
        QVERIFY2(!faults.isEmpty() && faults.first().startsWith(logged), qPrintable(faults.join(u'|')));
        const QString kind = command.section(u' ', 1, 1);
        QCOMPARE(sim.command(QStringLiteral("fault off ") + kind), QStringLiteral("OK"));
        if (kind == QLatin1String("offline"))
            QCOMPARE(sim.command(QStringLiteral("online")), QStringLiteral("OK"));
        QCOMPARE(m.read(0x400, 4).size(), 4);
        QCOMPARE(sim.logEntries(QStringLiteral("FAULT")).size(), faults.size());
        if (kind == QLatin1String("late")) {
            // The late answer did go out, 700 ms after its request.
            QStringList lines = sim.logLines();
            lines.removeIf([](const QString &l) { return !l.contains(QLatin1String(" RX ")) && !l.contains(QLatin1String(" TX ")); });
            QVERIFY(lines.size() >= 4);
            QVERIFY(stamp(lines[3]) - stamp(lines[2]) >= 700);
        }
    }

    void faultOnTheNthRequestFromTheCommandLine()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--fault"), QStringLiteral("exception:nth=3,code=4")}),
                 qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        QList<bool> answered;
        for (int i = 0; i < 5; ++i)
            answered << !m.read(0x400, 2).isEmpty();
        QCOMPARE(answered, (QList<bool>{true, true, false, true, true}));
        QCOMPARE(sim.command(QStringLiteral("faults")), QStringLiteral("OK exception:nth=3,code=4"));
    }

    void commandsChangeTheController()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--sensors"), QStringLiteral("4")}), qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        for (const char *c : {"freeze", "set temp 1 35", "set temp 3 50", "set status 2 20",
                              "set temp 4 20", "set elapsed 4 1234", "set status 5 auto", "set relay 4 1"})
            QCOMPARE(sim.command(QString::fromLatin1(c)), QStringLiteral("OK"));
        QCOMPARE(m.read(0x100, 1), QList<quint16>{35});
        QCOMPARE(m.read(0x140, 6), (QList<quint16>{1, 20, 2, 0, 0, 40}));
        QCOMPARE(m.read(0x183, 1), QList<quint16>{1234});
        // Sensors 1 and 3 drive relay 1, sensor 3 at threshold 2 and the silent sensor 4
        // relay 3; relay 4 is forced.
        QCOMPARE(m.read(0x300, 1), QList<quint16>{0b1101});
        QCOMPARE(sim.command(QStringLiteral("set tag 1 Печь")), QStringLiteral("OK"));
        QCOMPARE(m.read(0x2000, 3), (QList<quint16>{0xCFE5, 0xF7FC, 0}));
        for (const char *c : {"set temp 99 1", "set status 1", "set relay 9 1", "get 0x3000",
                              "fault meteor", "address 0", "jump"})
            QVERIFY2(sim.command(QString::fromLatin1(c)).startsWith(QLatin1String("ERR")), c);
    }

    void namedValuesTellTheirRegister()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--named-values")}), qPrintable(sim.errorText()));
        Master m(sim.ptyPath());
        QVERIFY(m.ok());
        // The identification stays real, so the program still knows the controller.
        QCOMPARE(m.read(0x400, 4), (QList<quint16>{3126, 0x0102, 0, 0x0100}));
        QCOMPARE(m.read(0x141, 3), (QList<quint16>{0x141, 0x142, 0x143}));
        QCOMPARE(m.read(0x300, 1), QList<quint16>{0x300});
        QCOMPARE(m.read(0x500, 6), (QList<quint16>{0x500, 0x501, 0x502, 0x503, 0x504, 0x505}));
        QCOMPARE(m.read(0x2116, 4), (QList<quint16>{0x2116, 0x2117, 0x2118, 0x2119}));
        // A written register holds what was written; its neighbours keep their names.
        QCOMPARE(modbus_write_register(m.ctx(), 0x0212, 42), 1);
        QCOMPARE(m.read(0x0210, 4), (QList<quint16>{0x210, 0x211, 42, 0x213}));
        QCOMPARE(sim.command(QStringLiteral("get 0x1010 2")), QStringLiteral("OK 4112 4113"));
        // Still the same map: outside it, exception 2.
        QVERIFY(m.read(0x1007, 1).isEmpty());
        QCOMPARE(errno, EMBXILADD);
    }

    // The damaged answers at line speed: noise goes out before the whole answer, a
    // truncated answer stops, a wrong address comes with a good CRC; all paced.
    void pacedFaultsAsDocumented_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("size");
        QTest::newRow("noise") << "noise:nth=2,bytes=2" << 15;
        QTest::newRow("truncated") << "truncated:nth=2,bytes=5" << 5;
        QTest::newRow("wrongaddr") << "wrongaddr:nth=2" << 13;
        QTest::newRow("badcrc") << "badcrc:nth=2" << 13;
    }
    void pacedFaultsAsDocumented()
    {
        QFETCH(QString, fault);
        QFETCH(int, size);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--pace"), QStringLiteral("--fault"), fault}),
                 qPrintable(sim.errorText()));
        RawLine line(sim.ptyPath());
        const QByteArray request = ModbusFrame::readRequest(100, 0x400, 4);
        QVERIFY(line.send(request));
        const QByteArray clean = line.receive(500, 13);
        QCOMPARE(clean.size(), 13);
        QElapsedTimer t;
        t.start();
        QVERIFY(line.send(request));
        QByteArray got = line.receive(500, size);
        const double took = t.nsecsElapsed() / 1e6;
        got += line.receive(60); // nothing more follows
        const double charMs = 11 * 1000.0 / 9600;
        const QString kind = fault.section(u':', 0, 0);
        if (kind == QLatin1String("noise")) {
            QCOMPARE(got.size(), 15);
            QCOMPARE(got.mid(2), clean);
        } else if (kind == QLatin1String("truncated")) {
            QCOMPARE(got, clean.left(5));
        } else if (kind == QLatin1String("wrongaddr")) {
            QCOMPARE(quint8(got[0]), quint8(101));
            QCOMPARE(got.mid(1, 10), clean.mid(1, 10));
            QVERIFY(ModbusCrcMatches(got));
        } else {
            QCOMPARE(got.left(12), clean.left(12));
            QVERIFY(got[12] != clean[12]);
        }
        // The request, the gap and every byte of the answer took their time on the wire.
        QVERIFY2(took >= (8 + 3.5 + size) * charMs * 0.97, qPrintable(QString::number(took)));
        const QStringList tx = sim.logEntries(QStringLiteral("TX"));
        QCOMPARE(tx.size(), 2);
        QCOMPARE(tx[1], QString::fromLatin1(got.toHex(' ').toUpper()));
        QCOMPARE(sim.logEntries(QStringLiteral("FAULT")).size(), 1);
    }

    void pacedAnswersTakeTheWireTime_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("9600") << 9600;
        QTest::newRow("115200") << 115200;
    }
    void pacedAnswersTakeTheWireTime()
    {
        QFETCH(int, baud);
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--pace"), QStringLiteral("--baud"), QString::number(baud),
                            QStringLiteral("--sensors"), QStringLiteral("36")}),
                 qPrintable(sim.errorText()));
        Master m(sim.ptyPath(), 100, baud);
        // 8 request bytes, the 3.5-character gap and 77 answer bytes, 11 bits each.
        const double wireMs = (8 + 3.5 + 77) * 11 * 1000.0 / baud;
        QList<double> times;
        for (int i = 0; i < 5; ++i) {
            QElapsedTimer t;
            t.start();
            QCOMPARE(m.read(0x100, 36).size(), 36);
            times << t.nsecsElapsed() / 1e6;
        }
        // Never faster than the wire (a lower bound no slow machine can break); how close
        // to it the answers come is measured in bench/.
        std::sort(times.begin(), times.end());
        QVERIFY2(times.first() >= wireMs * 0.97, qPrintable(QString::number(times.first())));
    }

    // Unpaced, every request is answered; the answer time in the stats line is for reading
    // (its speed belongs to bench/).
    void unpacedAnswersAllCome()
    {
        SimProcess sim;
        QVERIFY2(sim.start({QStringLiteral("--sensors"), QStringLiteral("36")}), qPrintable(sim.errorText()));
        Master m(sim.ptyPath(), 100, 115200);
        for (int i = 0; i < 300; ++i)
            QCOMPARE(m.read(0x100 + (i % 3) * 0x40, 36).size(), 36);
        const QString stats = sim.command(QStringLiteral("stats"));
        qInfo("%s", qPrintable(stats));
        QVERIFY2(stats.contains(QLatin1String("answered=300")), qPrintable(stats));
    }

    // Modbus TCP: libmodbus's TCP client reads, writes and gets its exception; the answer
    // echoes the transaction id with protocol 0 and the unit id; a header with another
    // protocol id is ignored; one master at a time; drop, refuse and listen.
    void modbusTcpAsAnyMasterSees()
    {
        SimProcess sim(SimProcess::Transport::TcpMbap);
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        const quint16 port = portOf(sim);
        QVERIFY(port > 0);
        {
            modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
            QVERIFY(ctx);
            modbus_set_slave(ctx, 100);
            QCOMPARE(modbus_connect(ctx), 0);
            uint16_t v[2] = {};
            QCOMPARE(modbus_read_registers(ctx, 0x400, 2, v), 2);
            QCOMPARE(v[0], uint16_t(3126));
            QCOMPARE(modbus_write_register(ctx, 0x213, 61), 1);
            QCOMPARE(sim.command(QStringLiteral("get 0x213")), QStringLiteral("OK 61"));
            QCOMPARE(modbus_read_registers(ctx, 0x3000, 1, v), -1);
            QCOMPARE(errno, int(EMBXILADD));
            modbus_close(ctx);
            modbus_free(ctx);
        }
        // The log holds the request as the RTU frame it stands for.
        const QByteArray write = ModbusFrame::writeSingleRequest(100, 0x213, 61);
        QVERIFY(sim.logEntries(QStringLiteral("RX")).contains(QString::fromLatin1(write.toHex(' ').toUpper())));
        RawConnection c(port);
        QVERIFY(c.connected());
        QVERIFY(c.send(QByteArray::fromHex("abcd00000006640304000002")));
        QCOMPARE(c.receive(300).toHex(), QByteArray("abcd000000076403040c360102"));
        QVERIFY(c.send(QByteArray::fromHex("abce00010006640304000002")));
        QVERIFY(c.receive(100).isEmpty());
        QCOMPARE(sim.logEntries(QStringLiteral("IGNORED")), QStringList{QStringLiteral("mbap")});
        bool closed = false;
        RawConnection second(port); // while the first is served
        second.receive(300, &closed);
        QVERIFY(closed);
        QCOMPARE(sim.command(QStringLiteral("drop")), QStringLiteral("OK"));
        closed = false;
        c.receive(300, &closed);
        QVERIFY(closed);
        QCOMPARE(sim.command(QStringLiteral("refuse")), QStringLiteral("OK"));
        QVERIFY(!RawConnection(port).connected());
        QCOMPARE(sim.command(QStringLiteral("listen")), QStringLiteral("OK"));
        RawConnection again(port);
        QVERIFY(again.connected());
        QVERIFY(again.send(QByteArray::fromHex("000100000006640304000002")));
        QCOMPARE(again.receive(300).size(), 13);
        // badtid has no transaction id to damage on a line's framing.
        SimProcess rtu(SimProcess::Transport::TcpRtu);
        QVERIFY2(rtu.start(), qPrintable(rtu.errorText()));
        QVERIFY(rtu.command(QStringLiteral("fault badtid")).startsWith(QLatin1String("ERR")));
        QVERIFY(rtu.command(QStringLiteral("fault badcrc")).startsWith(QLatin1String("OK")));
    }

    void mbpollReadsAndWrites()
    {
        const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
        if (mbpoll.isEmpty())
            QSKIP("mbpoll is not installed");
        SimProcess sim;
        QVERIFY2(sim.start(), qPrintable(sim.errorText()));
        const auto run = [&](const QStringList &args) {
            QProcess p;
            p.setProcessChannelMode(QProcess::MergedChannels);
            p.start(mbpoll, QStringList{QStringLiteral("-m"), QStringLiteral("rtu"), QStringLiteral("-a"),
                                        QStringLiteral("100"), QStringLiteral("-b"), QStringLiteral("9600"),
                                        QStringLiteral("-P"), QStringLiteral("none"), QStringLiteral("-t"),
                                        QStringLiteral("4"), QStringLiteral("-0"), QStringLiteral("-1")} + args);
            p.waitForFinished(10000);
            return std::pair{p.exitCode(), QString::fromLocal8Bit(p.readAll())};
        };
        auto [code, out] = run({QStringLiteral("-r"), QStringLiteral("1024"), QStringLiteral("-c"), QStringLiteral("4"), sim.ptyPath()});
        QCOMPARE(code, 0);
        QVERIFY2(out.contains(QLatin1String("[1024]: \t3126")) && out.contains(QLatin1String("[1025]: \t258")), qPrintable(out));
        std::tie(code, out) = run({QStringLiteral("-r"), QStringLiteral("528"), sim.ptyPath(), QStringLiteral("2"), QStringLiteral("5")});
        QCOMPARE(code, 0);
        QCOMPARE(sim.command(QStringLiteral("get 528 2")), QStringLiteral("OK 2 5"));
        std::tie(code, out) = run({QStringLiteral("-r"), QStringLiteral("531"), sim.ptyPath(), QStringLiteral("60")});
        QCOMPARE(code, 0);
        QCOMPARE(sim.command(QStringLiteral("get 531")), QStringLiteral("OK 60"));
        QVERIFY(sim.logEntries(QStringLiteral("RX")).last().startsWith(QLatin1String("64 06 02 13 00 3C")));
        std::tie(code, out) = run({QStringLiteral("-r"), QStringLiteral("12288"), sim.ptyPath()});
        QVERIFY(code != 0);
        QVERIFY2(out.contains(QLatin1String("Illegal data address")), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(SimModbusTest)
#include "tst_sim_modbus.moc"
