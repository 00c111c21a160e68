#include "Simulator.h"

#include "ModbusCrc.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t g_stopSignal = 0;
void onStopSignal(int) { g_stopSignal = 1; }

constexpr qint64 kMs = 1000000;
// Inter-character silence that ends an incomplete request: 3.5 characters, but never less
// than this, since a pty or a USB adapter may hand over one frame in pieces.
constexpr qint64 kMinSilenceNs = 5 * kMs;
// A due answer closer than this is waited for with an absolute sleep, not through poll.
constexpr qint64 kSleepWindowNs = 2 * kMs;
constexpr qint64 kTickNs = 1000 * kMs; // sensors live in whole seconds

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Modbus TCP: the MBAP frame of an RTU frame (header, unit id = address, PDU; no CRC).
QByteArray mbapFrame(const QByteArray &rtu, quint16 transaction)
{
    const QByteArray pdu = rtu.mid(1, rtu.size() - 3);
    QByteArray f;
    f += char(transaction >> 8);
    f += char(transaction & 0xFF);
    f += char(0);
    f += char(0);
    f += char((pdu.size() + 1) >> 8);
    f += char((pdu.size() + 1) & 0xFF);
    f += rtu.left(1);
    f += pdu;
    return f;
}

quint16 wordAt(const QByteArray &b, qsizetype at)
{
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

void sleepUntil(qint64 ns)
{
    timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

Simulator::~Simulator()
{
    m_port.close();
    m_tcp.close();
    if (!m_config.linkPath.isEmpty())
        ::unlink(m_config.linkPath.toLocal8Bit().constData());
    if (m_ownLog && m_log)
        fclose(m_log);
}

qint64 Simulator::nowNs() const { return monotonicNs(); }

qint64 Simulator::charNsAt(const LineSettings &line)
{
    return 11 * 1000000000LL / std::max(1, BaudOfIndex(line.baudIndex));
}

qint64 Simulator::charNs() const { return charNsAt(m_line); }

QString Simulator::ofUnit(const Unit &unit, const QString &text) const
{
    if (m_units.size() < 2)
        return text;
    return text + QStringLiteral(" @") + QString::number(unit.active.address);
}

Simulator::Unit *Simulator::unitAt(quint16 address)
{
    // Two controllers moved to one address: the first in order answers, the other is
    // shadowed until one of them moves away.
    for (const auto &u : m_units)
        if (u->active.address == address)
            return u.get();
    return nullptr;
}

qint64 Simulator::silenceNs() const { return std::max(kMinSilenceNs, charNs() * 7 / 2); }

void Simulator::log(const char *what, const QString &text)
{
    if (!m_log)
        return;
    const double ms = double(nowNs() - m_startNs) / 1e6;
    if (text.isEmpty())
        fprintf(m_log, "%.3f %s\n", ms, what);
    else
        fprintf(m_log, "%.3f %s %s\n", ms, what, text.toUtf8().constData());
    fflush(m_log);
}

void Simulator::logBytes(const char *what, const QByteArray &bytes)
{
    log(what, QString::fromLatin1(bytes.toHex(' ').toUpper()));
}

bool Simulator::start(const SimConfig &config, QString *error)
{
    m_config = config;
    m_startNs = nowNs();
    if (config.units.empty()) {
        *error = QStringLiteral("no controller");
        return false;
    }
    for (const SimUnitConfig &uc : config.units) {
        auto unit = std::make_unique<Unit>();
        unit->index = int(m_units.size());
        if (!unit->controller.configure(uc.map, uc.controller, error)) {
            if (config.units.size() > 1)
                *error = QStringLiteral("controller %1: ").arg(uc.controller.line.address) + *error;
            return false;
        }
        unit->faultRng.seed(uc.controller.seed ^ 0x5EEDu);
        for (const QString &f : config.faults)
            if (!unit->faults.setFromOption(f, error))
                return false;
        unit->active = unit->controller.line();
        for (const auto &other : m_units)
            if (other->active.address == unit->active.address) {
                *error = QStringLiteral("two controllers at address %1").arg(unit->active.address);
                return false;
            }
        m_units.push_back(std::move(unit));
    }
    const Unit &first = *m_units.front();
    if (config.logPath == QLatin1String("-")) {
        m_log = stderr;
    } else if (!config.logPath.isEmpty()) {
        m_log = fopen(config.logPath.toLocal8Bit().constData(), "w");
        if (!m_log) {
            *error = config.logPath + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        m_ownLog = true;
    }
    if (!config.mbap && first.faults.active(FaultKind::BadTid)) {
        *error = QStringLiteral("badtid needs --framing mbtcp");
        return false;
    }
    m_line = first.active;
    QString note;
    if (!config.tcp.isEmpty()) {
        if (!m_tcp.listen(config.tcp, error))
            return false;
        m_port.path =
            (config.mbap ? QStringLiteral("mbtcp://") : QStringLiteral("tcp://")) + m_tcp.address();
        printf("TCP %s\n", m_tcp.address().toLocal8Bit().constData());
    } else {
        const bool opened =
            config.pty ? m_port.openPty(error) : m_port.openDevice(config.devicePath, error);
        if (!opened)
            return false;
        if (!m_port.applyLine(m_line, &note)) {
            *error = QStringLiteral("line settings refused: ") + note;
            return false;
        }
        printf("%s %s\n", config.pty ? "PTY" : "DEVICE", m_port.path.toLocal8Bit().constData());
    }
    fflush(stdout);
    if (!config.linkPath.isEmpty()) {
        const QByteArray link = config.linkPath.toLocal8Bit();
        struct stat st{};
        if (lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode))
            ::unlink(link.constData());
        if (symlink(m_port.path.toLocal8Bit().constData(), link.constData()) != 0) {
            *error = config.linkPath + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
            m_config.linkPath.clear();
            return false;
        }
    }
    log("START", QStringLiteral("%1 address %2 baud %3 fw %4 hw %5%6")
                     .arg(m_port.path)
                     .arg(m_line.address)
                     .arg(BaudOfIndex(m_line.baudIndex))
                     .arg(VersionText(first.controller.options().firmware),
                          VersionText(first.controller.options().hardware),
                          config.pace ? QStringLiteral(" paced") : QString()));
    if (!note.isEmpty())
        log("NOTE", note);
    if (m_units.size() > 1)
        for (const auto &u : m_units) {
            const SimController::Options &o = u->controller.options();
            log("NOTE", QStringLiteral("controller %1 address %2 fw %3 hw %4 sensors %5 seed %6 map %7")
                            .arg(u->index)
                            .arg(u->active.address)
                            .arg(VersionText(o.firmware), VersionText(o.hardware))
                            .arg(o.registeredSensors)
                            .arg(o.seed)
                            .arg(config.units[size_t(u->index)].cfgPath));
        }
    return true;
}

int Simulator::run()
{
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa{};
    sa.sa_handler = onStopSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // The stop signals are let through only while waiting in ppoll, so none is missed.
    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    int exitCode = 0;
    while (!m_quit && !g_stopSignal) {
        const qint64 now = nowNs();
        for (const auto &u : m_units) {
            u->controller.advance((now - m_startNs) / kMs);
            if (u->offline && u->offlineUntilNs && now >= *u->offlineUntilNs) {
                u->offline = false;
                log("NOTE", ofUnit(*u, QStringLiteral("online")));
            }
        }
        if (m_refuseUntilNs && now >= *m_refuseUntilNs) {
            m_refuseUntilNs.reset();
            QString error;
            if (m_tcp.listenAgain(&error))
                log("NOTE", QStringLiteral("listening on ") + m_tcp.address());
            else
                log("NOTE", error);
        }
        sendDue();
        if (m_reader.pending() && nowNs() - m_lastByteNs >= silenceNs())
            takeRequests(true);
        if (!m_mbapBuffer.isEmpty() && nowNs() - m_lastByteNs >= silenceNs()) {
            ++m_stats.ignored;
            log("IGNORED", QStringLiteral("truncated"));
            m_mbapBuffer.clear();
        }

        pollfd fds[3] = {
            {lineFd(), POLLIN, 0}, {m_stdinOpen ? 0 : -1, POLLIN, 0}, {m_tcp.listenFd, POLLIN, 0}};
        const qint64 waitNs = std::max<qint64>(0, nextWakeNs() - nowNs());
        timespec timeout{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
        const int n = ppoll(fds, 3, &timeout, &waitMask);
        if (n < 0 && errno != EINTR) {
            perror("ppoll");
            exitCode = 1;
            break;
        }
        // ppoll lets a stop signal in only when it is interrupted; with input always ready
        // (a flood on stdin or the line) that may never happen, so ask for it directly.
        sigset_t pending;
        if (sigpending(&pending) == 0 && (sigismember(&pending, SIGTERM) || sigismember(&pending, SIGINT)))
            break;
        if (n <= 0)
            continue;
        if (!m_config.tcp.isEmpty() && (fds[0].revents & (POLLERR | POLLHUP))) {
            dropClient(QStringLiteral("closed by the master"));
            fds[0].revents = 0;
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            log("NOTE", QStringLiteral("line lost: ") + m_port.path);
            exitCode = 1;
            break;
        }
        if (fds[0].revents & POLLIN)
            readSerial();
        if (fds[1].revents & (POLLIN | POLLHUP))
            readStdin();
        // After the client's input: a master that closed and connects again is seen
        // leaving before it is seen coming, and not refused as a second one.
        if (fds[2].revents & POLLIN)
            acceptClient();
    }
    log("STOP");
    return exitCode;
}

qint64 Simulator::nextWakeNs() const
{
    const qint64 now = nowNs();
    qint64 wake = now + kTickNs;
    if (!m_outgoing.empty())
        wake = std::min(wake, m_outgoing.front().startNs - kSleepWindowNs);
    if (m_reader.pending())
        wake = std::min(wake, m_lastByteNs + silenceNs());
    for (const auto &u : m_units)
        if (u->offline && u->offlineUntilNs)
            wake = std::min(wake, *u->offlineUntilNs);
    if (m_refuseUntilNs)
        wake = std::min(wake, *m_refuseUntilNs);
    if (!m_mbapBuffer.isEmpty())
        wake = std::min(wake, m_lastByteNs + silenceNs());
    return wake;
}

void Simulator::acceptClient()
{
    QString peer;
    const bool taken = m_tcp.accept(&peer);
    if (peer.isEmpty())
        return;
    if (!taken) {
        log("NOTE", QStringLiteral("connection from %1 refused: one master at a time").arg(peer));
        return;
    }
    ++m_connection;
    m_reader = RtuRequestReader();
    m_mbapBuffer.clear();
    log("NOTE", QStringLiteral("connection from ") + peer);
}

void Simulator::dropClient(const QString &why)
{
    if (m_tcp.clientFd < 0)
        return;
    m_tcp.dropClient();
    m_reader = RtuRequestReader();
    m_mbapBuffer.clear();
    log("NOTE", QStringLiteral("connection closed: ") + why);
}

void Simulator::takeMbapRequests()
{
    while (m_mbapBuffer.size() >= 6) {
        const quint16 length = wordAt(m_mbapBuffer, 4);
        if (wordAt(m_mbapBuffer, 2) != 0 || length < 2 || length > 254) {
            // No request starts here, and nothing after it can be framed.
            logBytes("MBAPRX", m_mbapBuffer);
            ++m_stats.ignored;
            log("IGNORED", QStringLiteral("mbap"));
            m_mbapBuffer.clear();
            return;
        }
        if (m_mbapBuffer.size() < 6 + length)
            return;
        const QByteArray frame = m_mbapBuffer.left(6 + length);
        m_mbapBuffer.remove(0, 6 + length);
        logBytes("MBAPRX", frame);
        QByteArray rtu = frame.mid(6);
        AppendModbusCrc(rtu);
        logBytes("RX", rtu);
        m_mbapTransaction = wordAt(frame, 0);
        const qint64 now = nowNs();
        handleRequest(rtu, now, now);
    }
}

void Simulator::readSerial()
{
    char buffer[4096];
    const ssize_t n = ::read(lineFd(), buffer, sizeof buffer);
    if (n == 0 && !m_config.tcp.isEmpty())
        dropClient(QStringLiteral("closed by the master"));
    if (n <= 0)
        return;
    const qint64 now = nowNs();
    if (m_config.mbap) {
        m_lastByteNs = now;
        m_mbapBuffer.append(buffer, n);
        takeMbapRequests();
        return;
    }
    if (!m_reader.pending())
        m_requestStartNs = now;
    m_lastByteNs = now;
    m_reader.feed(QByteArray(buffer, n));
    takeRequests(false);
}

void Simulator::takeRequests(bool silence)
{
    const qint64 readNs = nowNs();
    for (const RtuRequestReader::Event &e : m_reader.take(silence)) {
        logBytes("RX", e.bytes);
        if (e.frame) {
            handleRequest(e.bytes, m_requestStartNs, readNs);
        } else {
            ++m_stats.ignored;
            log("IGNORED", e.reason);
        }
        // What follows in the buffer went on the line right after this frame.
        m_requestStartNs += qint64(e.bytes.size()) * charNs();
    }
    if (!m_reader.pending())
        m_requestStartNs = 0;
}

void Simulator::broadcast(const QByteArray &frame)
{
    // Writes are carried out by every controller that is on, nobody answers.
    const quint8 function = quint8(frame[1]);
    if (function != 6 && function != 16) {
        ++m_stats.ignored;
        log("IGNORED", QStringLiteral("broadcast"));
        return;
    }
    for (const auto &u : m_units) {
        if (u->offline)
            continue;
        const SlaveAnswer a = AnswerRequest(u->controller, frame);
        log("NOTE", ofUnit(*u, QStringLiteral("broadcast %1").arg(a.exception ? "refused" : "written")));
        if (a.connectionChanged && !a.exception)
            applyLine(*u);
    }
}

void Simulator::handleRequest(const QByteArray &frame, qint64 firstNs, qint64 readNs)
{
    const quint8 address = quint8(frame[0]);
    if (address == 0) {
        broadcast(frame);
        return;
    }
    Unit *found = unitAt(address);
    if (!found) {
        ++m_stats.ignored;
        log("IGNORED", QStringLiteral("address"));
        return;
    }
    Unit &unit = *found;
    ++m_stats.requests;
    const auto fault = [&](FaultKind k, const QString &detail = {}) {
        ++m_stats.faults;
        log("FAULT", ofUnit(unit, detail.isEmpty() ? FaultName(k) : FaultName(k) + QLatin1Char(' ') + detail));
    };
    if (unit.offline) {
        ++m_stats.faults;
        log("FAULT", ofUnit(unit, QStringLiteral("offline")));
        return;
    }
    bool struck[kFaultKinds] = {};
    int values[kFaultKinds] = {};
    for (int k = 0; k < kFaultKinds; ++k)
        struck[k] = unit.faults.strikes(FaultKind(k), unit.faultRng, &values[k]);

    if (struck[int(FaultKind::Offline)]) {
        const int ms = values[int(FaultKind::Offline)] < 0 ? 3000 : values[int(FaultKind::Offline)];
        unit.offline = true;
        unit.offlineUntilNs = nowNs() + ms * kMs;
        fault(FaultKind::Offline, QString::number(ms));
        return;
    }
    if (struck[int(FaultKind::NoAnswer)]) {
        fault(FaultKind::NoAnswer);
        return;
    }
    SlaveAnswer answer;
    if (struck[int(FaultKind::Exception)]) {
        const int code = values[int(FaultKind::Exception)] < 0 ? 4 : values[int(FaultKind::Exception)];
        answer.frame = ExceptionFrame(address, quint8(frame[1]), quint8(code));
        fault(FaultKind::Exception, QString::number(code));
    } else {
        answer = AnswerRequest(unit.controller, frame);
    }
    if (struck[int(FaultKind::Lost)] && !struck[int(FaultKind::Exception)]) {
        // Carried out, confirmation gone: the master cannot tell it from a request lost on
        // the way, but the controller has acted on it.
        fault(FaultKind::Lost);
        if (answer.connectionChanged)
            applyLine(unit);
        return;
    }
    qint64 delayNs = 0;
    Outgoing out;
    applyFaults(unit, answer.frame, out.rtu, address, delayNs, struck, values);
    out.connection = m_connection;
    out.bytes = answer.frame;
    out.readNs = readNs;
    out.startNs = readNs + delayNs;
    // The controller talks at its own baud; the master must have sent the request at it.
    out.charNs = charNsAt(unit.active);
    if (m_config.pace) // the request is on the wire from its first byte, then the gap
        out.startNs = std::max(firstNs + qint64(frame.size()) * out.charNs + out.charNs * 7 / 2,
                               readNs) + delayNs;
    if (answer.connectionChanged)
        out.after = [this, u = &unit] { applyLine(*u); };
    schedule(std::move(out));
}

void Simulator::applyFaults(Unit &unit, QByteArray &bytes, QByteArray &rtu, quint8 address,
                            qint64 &delayNs, const bool *struck, const int *values) {
    const auto fault = [&](FaultKind k, const QString &detail = {}) {
        ++m_stats.faults;
        log("FAULT", ofUnit(unit, detail.isEmpty() ? FaultName(k) : FaultName(k) + QLatin1Char(' ') + detail));
    };
    if (struck[int(FaultKind::WrongAddr)]) {
        bytes.chop(2);
        bytes[0] = char(address == 247 ? 1 : address + 1);
        AppendModbusCrc(bytes);
        fault(FaultKind::WrongAddr, QString::number(quint8(bytes[0])));
    }
    if (m_config.mbap) { // the faults below damage what goes on the connection
        rtu = bytes;
        bytes = mbapFrame(bytes, m_mbapTransaction);
    }
    if (struck[int(FaultKind::Truncated)]) {
        const int v = values[int(FaultKind::Truncated)];
        const qsizetype keep = std::clamp<qsizetype>(v < 0 ? bytes.size() / 2 : v, 0, bytes.size() - 1);
        bytes.truncate(keep);
        fault(FaultKind::Truncated, QString::number(keep));
    }
    if (struck[int(FaultKind::BadCrc)] && !bytes.isEmpty()) {
        // Modbus TCP has no CRC: the damage goes into the protocol id, which a master
        // checks instead.
        const qsizetype at = m_config.mbap && bytes.size() > 2 ? 2 : bytes.size() - 1;
        bytes[at] = char(bytes[at] ^ 0x5A);
        fault(FaultKind::BadCrc);
    }
    if (struck[int(FaultKind::BadTid)] && m_config.mbap && !bytes.isEmpty()) {
        bytes[0] = char(bytes[0] ^ 0x80); // a transaction the master never started
        fault(FaultKind::BadTid);
    }
    if (struck[int(FaultKind::Noise)]) {
        const int v = values[int(FaultKind::Noise)];
        const int count = v < 0 ? 3 : v;
        QByteArray noise;
        std::uniform_int_distribution<int> byte(0, 255);
        for (int i = 0; i < count; ++i)
            noise.append(char(byte(unit.faultRng)));
        bytes.prepend(noise);
        fault(FaultKind::Noise, QString::number(count));
    }
    if (struck[int(FaultKind::Late)]) {
        const int v = values[int(FaultKind::Late)];
        const int ms = v < 0 ? 1500 : v;
        delayNs = ms * kMs;
        fault(FaultKind::Late, QString::number(ms));
    }
}

void Simulator::schedule(Outgoing out)
{
    const auto at = std::upper_bound(m_outgoing.begin(), m_outgoing.end(), out.startNs,
                                     [](qint64 t, const Outgoing &o) { return t < o.startNs; });
    m_outgoing.insert(at, std::move(out));
    sendDue();
}

void Simulator::sendDue()
{
    while (!m_outgoing.empty() && m_outgoing.front().startNs - nowNs() <= kSleepWindowNs) {
        Outgoing out = std::move(m_outgoing.front());
        m_outgoing.erase(m_outgoing.begin());
        send(out);
    }
}

void Simulator::send(Outgoing &out)
{
    if (out.startNs > nowNs())
        sleepUntil(out.startNs);
    if (!m_config.tcp.isEmpty() && (out.connection != m_connection || m_tcp.clientFd < 0)) {
        log("NOTE", QStringLiteral("answer dropped: its connection is gone"));
        if (out.after)
            out.after();
        return;
    }
    if (!out.rtu.isEmpty()) {
        logBytes("TX", out.rtu);
        logBytes("MBAPTX", out.bytes);
    } else {
        logBytes("TX", out.bytes);
    }
    const int fd = lineFd();
    bool complete = true;
    if (m_config.pace) {
        // Each byte is handed over when its stop bit would have left the wire.
        const qint64 c = out.charNs;
        for (qsizetype i = 0; i < out.bytes.size() && complete; ++i) {
            sleepUntil(out.startNs + (i + 1) * c);
            complete = ::write(fd, out.bytes.constData() + i, 1) == 1;
        }
    } else {
        complete = ::write(fd, out.bytes.constData(), size_t(out.bytes.size())) == out.bytes.size();
        const qint64 took = nowNs() - out.readNs;
        if (out.startNs == out.readNs) {
            m_stats.maxAnswerNs = std::max(m_stats.maxAnswerNs, took);
            m_stats.totalAnswerNs += took;
            ++m_stats.timedAnswers;
        }
    }
    if (!complete)
        log("NOTE", QStringLiteral("answer not taken by the line: ") +
                        QString::fromLocal8Bit(strerror(errno)));
    ++m_stats.answered;
    if (out.after)
        out.after();
}

void Simulator::applyLine(Unit &unit)
{
    // The port follows the controller that moved (as with one controller); the others keep
    // answering at their own address and pacing at their own baud.
    const LineSettings line = unit.controller.line();
    unit.active = line;
    m_line = line;
    QString note;
    const bool ok = m_config.tcp.isEmpty() ? m_port.applyLine(line, &note) : true;
    log("NOTE", QStringLiteral("line address %1 baud %2 parity %3 stopbits %4 channel %5 language %6%7")
                    .arg(line.address)
                    .arg(BaudOfIndex(line.baudIndex))
                    .arg(line.parity)
                    .arg(line.stopBits)
                    .arg(line.channel)
                    .arg(line.language)
                    .arg(note.isEmpty() ? QString() : (ok ? QStringLiteral(" (") : QStringLiteral(" (refused: ")) + note + u')'));
}

void Simulator::readStdin()
{
    char buffer[4096];
    const ssize_t n = ::read(0, buffer, sizeof buffer);
    if (n <= 0) {
        m_stdinOpen = false;
        if (m_config.quitOnEof)
            m_quit = true;
        return;
    }
    m_stdinBuffer.append(buffer, n);
    qsizetype end;
    // A command is one short line; endless input without a line break (a pipe from
    // /dev/zero) is dropped instead of growing without bound.
    constexpr qsizetype kLongestCommand = 4096;
    if (m_stdinBuffer.size() > kLongestCommand && m_stdinBuffer.indexOf('\n') < 0) {
        m_stdinBuffer.clear();
        log("IGNORED", QStringLiteral("command line longer than %1 bytes").arg(kLongestCommand));
        return;
    }
    while ((end = m_stdinBuffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_stdinBuffer.left(end)).trimmed();
        m_stdinBuffer.remove(0, end + 1);
        if (line.isEmpty())
            continue;
        log("CMD", line);
        const QString reply = command(line);
        printf("%s\n", reply.toUtf8().constData());
        fflush(stdout);
    }
}
