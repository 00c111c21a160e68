#include "SerialLink.h"

#include "LinkReporter.h"
#include "LinkTransport.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ModbusFrames.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include <climits>
#include <optional>

Q_LOGGING_CATEGORY(lcLink, "velmaris.link", QtWarningMsg)

namespace {

const QString kConnect = QStringLiteral("connect");

void armTimer(QTimer &t, int ms) { t.start(qMax(0, ms)); }

} // namespace

// A wait of the link: its loop, its timers and what the wait is for. Made once and re-armed
// for every wait: a loop, its timers and their connections made and destroyed per call
// cost about a third of a transaction's instructions.
struct SerialLink::Wait {
    enum Kind { Connection, Sent, Answer, Silence, Pause };
    QEventLoop loop;
    QTimer limit;     // the deadline
    QTimer gap;       // silence on the line
    QTimer portTotal; // the port's total read time-out
    int kind = Pause;
    int silenceMs = 0; // 0: no silence ends this answer
    bool complete = false;
    // An answer being read
    QByteArray *answer = nullptr;
    ModbusFrame::Expected expected;
    int capacity = 0;
    QElapsedTimer sinceLastByte;

    Wait()
    {
        for (QTimer *t : {&limit, &gap, &portTotal}) {
            t->setSingleShot(true);
            t->setTimerType(Qt::PreciseTimer);
        }
    }
    void stopTimers()
    {
        limit.stop();
        gap.stop();
        portTotal.stop();
    }
};

SerialLink::SerialLink(const MemIniFile &settings, LinkReporter &reporter, QObject *parent)
    : QObject(parent), m_settings(settings), m_reporter(reporter)
{
    m_clock.start();
    usePortFor(QString());
}

SerialLink::~SerialLink()
{
    ClosePort();
    m_port->setInputListener(nullptr);
}

bool SerialLink::IsOpen() const { return m_port->isOpen(); }

qint32 SerialLink::BaudRate() const { return m_port->baudRate(); }

bool SerialLink::IsNetwork() const { return m_port->kind() != LinkTransport::Kind::Serial; }

void SerialLink::usePortFor(const QString &path)
{
    const LinkTransport::Kind kind = LinkTransport::KindOf(path);
    if (m_port && m_port->kind() == kind)
        return;
    // A port that goes away (adapter pulled out, connection dropped) closes itself and
    // says so (lost); every wait ends on that, and the next connect opens it again.
    m_port = LinkTransport::Create(kind);
    // Told once; the handlers act on the waits that are running.
    m_port->setInputListener(this);
    connect(m_port.get(), &LinkTransport::bytesWritten, this, &SerialLink::onBytesWritten);
    connect(m_port.get(), &LinkTransport::lost, this, &SerialLink::onLost);
    connect(m_port.get(), &LinkTransport::openEnded, this, &SerialLink::onOpenEnded);
}

QString SerialLink::PortPathFromSetting(const QString &port)
{
    if (!port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return port; // a device path such as /dev/ttyUSB0, a pty link or a tcp:// address;
                     // empty fails to open
    const QString number = port.mid(3, 2); // the characters after "COM", at most two
#ifdef Q_OS_WIN
    return QStringLiteral("COM") + number;
#else
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n < 1)
        return QString(); // no such port; the open fails and is reported
    return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
#endif
}

bool SerialLink::OpenPort(const QString &path)
{
    if (m_port->isOpen())
        return true;
    usePortFor(path);
    bool opened = !path.isEmpty() && m_port->startOpen(path);
    bool calledOff = false;
    if (opened && m_port->isOpening()) {
        // Opened anew: an earlier abort is over, as for a port closed and opened again.
        m_aborted = false;
        const int receive =
            m_settings.readInteger(kConnect, QStringLiteral("receive"), 500) & 0xFFFF;
        opened = waitForConnection(qMax(ConnectFloorMs, receive));
        calledOff = m_aborted; // closing the window ended the wait: no fault of the port
    }
    if (!opened || !m_port->isOpen()) {
        qCDebug(lcLink) << "open" << path << "failed:" << m_port->errorString();
        m_portError = path.isEmpty() ? QString() : m_port->errorString();
        m_port->close();
        if (!calledOff)
            reportOpenFailure();
        return false;
    }
    m_portErrorShown = false;
    m_portError.clear();
    m_aborted = false;
    m_owed.clear();
    m_mustSettle = false;
    // The round trip belongs to the place: reconnecting to it keeps what was learnt.
    if (path != m_path)
        m_roundTrip.Reset();
    m_path = path;
    return true;
}

void SerialLink::reportOpenFailure()
{
    if (m_portErrorShown)
        return;
    m_reporter.SetLinkDown(LookupText(m_settings, Msg::n87));
    m_portErrorShown = true;
}

bool SerialLink::waitForConnection(int maxMs)
{
    Wait &w = startWait(Wait::Connection);
    armTimer(w.limit, maxMs);
    if (m_port->isOpening())
        runWait(w, true);
    w.stopTimers();
    return !m_aborted && m_port->isOpen();
}

bool SerialLink::ConfigurePort()
{
    // Applied every step from the settings (a connection has no line settings).
    auto baud = [](int index) -> qint32 {
        static const qint32 rates[] = {9600, 19200, 38400, 57600, 115200};
        return index >= 0 && index < 5 ? rates[index] : 0; // 0: keep the port's rate
    };
    auto parity = [](int index) {
        static const QSerialPort::Parity kinds[] = {QSerialPort::NoParity, QSerialPort::EvenParity,
                                                    QSerialPort::OddParity};
        return index >= 0 && index < 3 ? std::optional(kinds[index]) : std::nullopt;
    };
    const LineSettings &line = lineSettings();
    const qint32 rate = baud(line.speed);
    const auto wantParity = parity(line.parity);
    const auto stops = line.stopbits == 0 ? QSerialPort::OneStop : QSerialPort::TwoStop;
    if (!m_port->setLine(rate, wantParity, stops)) {
        const QString reason = m_port->errorString();
        m_portError = reason;
        m_reporter.SetLinkDown(reason);
        ClosePort();
        return false;
    }
    ApplyTimeouts();
    return true;
}

const SerialLink::LineSettings &SerialLink::lineSettings()
{
    if (m_line.revision == m_settings.revision() && m_line.revision != 0)
        return m_line;
    auto key = [&](const char *name, int def) {
        return m_settings.readInteger(kConnect, QString::fromLatin1(name), def);
    };
    auto ms = [&](const char *name, int def) { return qMax(0, key(name, def)); };
    m_line.speed = key("speed", 0);
    m_line.parity = key("parity", 0);
    m_line.stopbits = key("stopbits", 1);
    m_line.timeouts = {ms("cto1", 10), ms("cto2", 0), ms("cto3", 1000), ms("cto4", 100),
                       ms("cto5", 1000)};
    m_line.revision = m_settings.revision();
    return m_line;
}

bool SerialLink::ApplyTimeouts()
{
    if (!m_port->isOpen())
        return false;
    m_timeouts = lineSettings().timeouts;
    m_port->setSilenceMs(SilenceMs());
    return true;
}

int SerialLink::TotalTimeoutMs(int multiplier, qint64 bytes, int constant)
{
    // Each factor fits in 32 bits, so the product fits in 64.
    const qint64 ms = qint64(qMax(0, multiplier)) * qBound(qint64(0), bytes, qint64(INT_MAX)) +
                      qint64(qMax(0, constant));
    return int(qMin<qint64>(ms, INT_MAX));
}

int SerialLink::SilenceMs() const
{
    if (m_timeouts.readInterval > 0)
        return m_timeouts.readInterval;
    if (IsNetwork())
        return NetworkSilenceMs;
    const qint32 baud = m_port->baudRate() > 0 ? m_port->baudRate() : 9600;
    return qMax(5, int((35 * 11 * 1000 / 10 + baud - 1) / baud)); // 3.5 characters of 11 bits
}

bool SerialLink::ConnectPort(const QString &path) { return OpenPort(path) && ConfigurePort(); }

void SerialLink::ClosePort()
{
    m_port->close();
    m_owed.clear();
    m_mustSettle = false;
}

void SerialLink::Abort()
{
    m_aborted = true;
    if (m_port->isOpen())
        m_port->discardOutput(); // nothing more goes on the line
    if (m_depth > 0) // the innermost running wait
        m_waits[m_depth - 1]->loop.exit(1);
}

SerialLink::Wait &SerialLink::startWait(int kind)
{
    if (m_depth == int(m_waits.size())) {
        // A wait inside a running one (only a handler run by that wait can start it).
        auto made = std::make_unique<Wait>();
        Wait *const w = made.get();
        connect(&w->limit, &QTimer::timeout, &w->loop, [w] { w->loop.quit(); });
        connect(&w->gap, &QTimer::timeout, &w->loop, [this, w] { onGap(*w); });
        connect(&w->portTotal, &QTimer::timeout, &w->loop, [this, w] {
            if (w->kind == Wait::Answer && !w->answer->isEmpty())
                finish(*w);
        });
        m_waits.push_back(std::move(made));
    }
    Wait &w = *m_waits[m_depth];
    w.kind = kind;
    w.silenceMs = 0;
    w.complete = false;
    w.answer = nullptr;
    return w;
}

int SerialLink::runWait(Wait &w, bool letUserIn)
{
    if (m_aborted)
        return 1;
    ++m_depth;
    const int result =
        w.loop.exec(letUserIn ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    --m_depth;
    return result;
}

void SerialLink::inputArrived()
{
    for (int i = 0; i < m_depth; ++i) {
        Wait &w = *m_waits[i];
        if (w.kind == Wait::Answer) {
            take(w);
        } else if (w.kind == Wait::Silence) {
            discardInput();
            armTimer(w.gap, w.silenceMs); // counts again from the last byte
        }
    }
}

void SerialLink::onBytesWritten()
{
    for (int i = 0; i < m_depth; ++i)
        if (m_waits[i]->kind == Wait::Sent && m_port->bytesToWrite() == 0)
            m_waits[i]->loop.quit();
}

void SerialLink::onLost()
{
    for (int i = 0; i < m_depth; ++i) {
        const int kind = m_waits[i]->kind;
        if (kind == Wait::Sent || kind == Wait::Answer || kind == Wait::Silence)
            m_waits[i]->loop.quit();
    }
}

void SerialLink::onOpenEnded()
{
    for (int i = 0; i < m_depth; ++i)
        if (m_waits[i]->kind == Wait::Connection)
            m_waits[i]->loop.quit();
}

void SerialLink::onGap(Wait &w)
{
    if (w.kind == Wait::Silence) {
        // Unread bytes in the driver are no silence (see Read).
        if (m_port->isOpen() && m_port->pollInput())
            return; // readyRead discarded them and armed the gap again
        w.loop.quit();
        return;
    }
    if (w.kind != Wait::Answer)
        return;
    // Bytes the driver holds but we have not been told of yet are no silence: on a busy
    // machine the timer can come before the port's notification.
    if (m_port->isOpen() && m_port->pollInput())
        take(w);
    if (w.complete)
        return;
    const qint64 quiet = w.sinceLastByte.elapsed();
    if (quiet >= w.silenceMs)
        finish(w);
    else
        armTimer(w.gap, int(w.silenceMs - quiet));
}

void SerialLink::finish(Wait &w)
{
    w.complete = true;
    if (w.loop.isRunning())
        w.loop.quit();
}

void SerialLink::take(Wait &w)
{
    QByteArray &answer = *w.answer;
    if (w.complete || !m_port->isOpen())
        return;
    const qsizetype had = answer.size();
    const qint64 wanted = qMin<qint64>(w.capacity - had, m_port->bytesAvailable());
    if (wanted <= 0)
        return;
    answer.resize(had + wanted);
    const qint64 got = m_port->read(answer.data() + had, wanted);
    answer.resize(had + qMax<qint64>(0, got));
    if (got <= 0)
        return;
    if (ModbusFrame::answerEnds(w.expected, answer) || answer.size() >= w.capacity)
        return finish(w);
    const int want = ModbusFrame::answerLength(w.expected, answer);
    // Bytes that cannot begin the answer say nothing about where it ends: only silence
    // does, even when the read-interval time-out is off.
    w.silenceMs = want == ModbusFrame::NotTheAnswer ? SilenceMs() : m_timeouts.readInterval;
    // The silence counts from the last byte; the timer is armed once and re-armed only
    // when it fires early, not for every byte that arrives.
    w.sinceLastByte.start();
    if (w.silenceMs > 0 && !w.gap.isActive())
        armTimer(w.gap, w.silenceMs);
}

void SerialLink::discardInput()
{
    const QByteArray old = m_port->discardInput();
    if (!old.isEmpty())
        qCDebug(lcLink) << "discarded" << old.toHex(' ');
}

bool SerialLink::waitForSilence(int maxMs)
{
    Wait &w = startWait(Wait::Silence);
    w.silenceMs = SilenceMs();
    discardInput();
    armTimer(w.gap, w.silenceMs);
    armTimer(w.limit, qMax(maxMs, w.silenceMs));
    runWait(w, true);
    w.stopTimers();
    return !m_aborted && m_port->isOpen();
}

int SerialLink::AnswerWaitMs(int receiveMs) const
{
    return IsNetwork() ? m_roundTrip.AnswerWaitMs(receiveMs) : qMax(0, receiveMs);
}

int SerialLink::LateBoundMs(int receiveMs) const
{
    return int(qMin<qint64>(2 * qint64(AnswerWaitMs(receiveMs)), INT_MAX));
}

void SerialLink::forgetOwed()
{
    m_owed.clear();
    m_port->forgetEarlierRequests();
}

void SerialLink::drainOwed(int receiveMs)
{
    // The slave may still be answering requests we gave up on, the retries' own as well as
    // the first (a retry that took a late answer leaves its own answer to come); let those
    // answers pass so none is taken for this request. Each can come until LateBoundMs after
    // its request, so the wait ends that long after the last of them was sent. Drained
    // answers are measured too (Read), so a slow network lengthens the bound it is held to.
    const ModbusFrame::Expected shape = ModbusFrame::expectedAnswer(m_abandonedRequest);
    while (!m_owed.empty() && !m_aborted && m_port->isOpen()) {
        const qint64 wait = m_owed.back() + LateBoundMs(receiveMs) - m_clock.elapsed();
        QByteArray stale;
        if (wait <= 0 || !Read(stale, shape, 1024, int(qMin<qint64>(wait, INT_MAX)), true))
            break;
        qCDebug(lcLink) << "drained" << stale.toHex(' ');
    }
    if (!m_owed.empty())
        qCDebug(lcLink) << m_owed.size() << "answers taken as lost";
    m_owed.clear();
}

bool SerialLink::BeginTransaction(const QByteArray &request, int receiveMs, bool retry)
{
    if (m_aborted || !m_port->isOpen())
        return false;
    const bool sameRequest = retry && request == m_abandonedRequest;
    if (m_port->namesAnswers()) {
        // Modbus TCP: an answer carries its request's transaction id. From a new transaction
        // on, the transport drops the answers to every request before it, however late; a
        // retry still takes the answer to an earlier attempt of its own request.
        if (!sameRequest)
            forgetOwed();
    } else if (!m_owed.empty() && !sameRequest) {
        drainOwed(receiveMs);
    }
    if (m_mustSettle && !m_aborted && m_port->isOpen()) {
        waitForSilence(receiveMs);
        m_mustSettle = false;
    }
    if (m_aborted || !m_port->isOpen())
        return false;
    discardInput();
    m_request = request;
    return true;
}

bool SerialLink::Write(const QByteArray &frame, int ms)
{
    if (m_aborted || !m_port->isOpen())
        return false;
    qCDebug(lcLink) << "TX" << frame.toHex(' ');
    if (m_port->write(frame) != frame.size())
        return false;
    m_port->flush(); // hands what it can to the driver without blocking
    if (m_port->bytesToWrite() > 0) {
        const int portLimit = TotalTimeoutMs(m_timeouts.writeTotalMultiplier, frame.size(),
                                             m_timeouts.writeTotalConstant);
        Wait &w = startWait(Wait::Sent);
        armTimer(w.limit, portLimit > 0 ? qMin(ms, portLimit) : ms);
        runWait(w, false);
        w.stopTimers();
    }
    if (!m_port->isOpen())
        return false;
    if (m_aborted || m_port->bytesToWrite() > 0) {
        m_port->discardOutput();
        return false;
    }
    m_owed.push_back(m_clock.elapsed()); // the slave owes an answer to every request sent
    return true;
}

bool SerialLink::Read(QByteArray &answer, const ModbusFrame::Expected &expected, int capacity,
                      int ms, bool letUserIn)
{
    answer.clear();
    if (m_aborted || !m_port->isOpen())
        return false;
    Wait &w = startWait(Wait::Answer);
    w.answer = &answer;
    w.expected = expected;
    w.capacity = capacity;
    // Bytes go straight into the answer's own storage: no allocation per byte.
    answer.reserve(capacity);
    take(w);
    if (!w.complete && ms > 0) {
        armTimer(w.limit, ms);
        const int portLimit = TotalTimeoutMs(m_timeouts.readTotalMultiplier, capacity,
                                             m_timeouts.readTotalConstant);
        if (portLimit > 0 && portLimit < ms)
            armTimer(w.portTotal, portLimit);
        runWait(w, letUserIn);
    }
    w.stopTimers();
    w.answer = nullptr;
    bool complete = w.complete;
    if (!answer.isEmpty())
        qCDebug(lcLink) << "RX" << answer.toHex(' ') << (complete ? "" : "(incomplete)");
    if (m_aborted)
        complete = false;
    if (complete)
        answerArrived();
    else
        m_abandonedRequest = m_request; // its answer is still owed
    return complete;
}

void SerialLink::answerArrived()
{
    if (m_owed.empty())
        return;
    // Answers keep the order of the requests: this is the oldest one's. When that one was
    // never answered the sample comes out long, which only makes the waits longer.
    if (IsNetwork())
        m_roundTrip.Sample(m_clock.elapsed() - m_owed.front());
    m_owed.pop_front();
}

bool SerialLink::Pause(int ms, bool letUserIn)
{
    if (m_aborted)
        return false;
    if (ms <= 0)
        return true;
    Wait &w = startWait(Wait::Pause);
    armTimer(w.limit, ms);
    runWait(w, letUserIn);
    w.stopTimers();
    return !m_aborted;
}
