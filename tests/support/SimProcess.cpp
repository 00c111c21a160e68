#include "SimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

#ifndef VELMARIS_SIM_PATH
#error "VELMARIS_SIM_PATH must name the qor7070-sim executable"
#endif

QString SimProcess::simPath() { return QStringLiteral(VELMARIS_SIM_PATH); }

SimProcess::~SimProcess() { stop(); }

QString SimProcess::logPath() const { return m_dir.filePath(QStringLiteral("sim.log")); }

bool SimProcess::start(const QStringList &arguments, int timeoutMs, Log log)
{
    stop();
    m_stdout.clear();
    m_ptyPath.clear();
    m_portSetting.clear();
    m_error.clear();
    QStringList args{QStringLiteral("--quit-on-eof"), QStringLiteral("--quiet")};
    if (m_transport == Transport::Pty)
        args << QStringLiteral("--pty");
    else
        args << QStringLiteral("--tcp") << QStringLiteral("127.0.0.1:0")
             << QStringLiteral("--framing")
             << (m_transport == Transport::TcpMbap ? QStringLiteral("mbtcp")
                                                   : QStringLiteral("rtu"));
    if (log == Log::On)
        args << QStringLiteral("--log") << logPath();
    args += arguments;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(simPath(), args);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    const QString first = nextLine(timeoutMs);
    const QString tag =
        m_transport == Transport::Pty ? QStringLiteral("PTY ") : QStringLiteral("TCP ");
    if (!first.startsWith(tag)) {
        m_process.waitForFinished(1000);
        m_error = QStringLiteral("no %1line; stderr: ").arg(tag) +
                  QString::fromLocal8Bit(m_process.readAllStandardError());
        stop();
        return false;
    }
    const QString where = first.mid(4).trimmed();
    if (m_transport == Transport::Pty) {
        m_ptyPath = where;
        m_portSetting = where;
    } else {
        m_portSetting = (m_transport == Transport::TcpMbap ? QStringLiteral("mbtcp://")
                                                           : QStringLiteral("tcp://")) +
                        where;
    }
    return true;
}

QString SimProcess::nextLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_stdout += m_process.readAllStandardOutput();
        const qsizetype end = m_stdout.indexOf('\n');
        if (end >= 0) {
            const QString line = QString::fromUtf8(m_stdout.left(end));
            m_stdout.remove(0, end + 1);
            return line;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return {};
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QString SimProcess::command(const QString &line, int timeoutMs)
{
    if (!isRunning())
        return {};
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(timeoutMs);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QString reply = nextLine(int(qMax<qint64>(1, deadline.remainingTime())));
        if (reply.isEmpty() || reply.startsWith(QLatin1String("OK")) || reply.startsWith(QLatin1String("ERR")))
            return reply;
    }
}

QStringList SimProcess::logLines() const
{
    QFile f(logPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimProcess::logEntries(const QString &kind) const
{
    QStringList out;
    for (const QString &line : logLines()) {
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (rest.section(QLatin1Char(' '), 0, 0) == kind)
            out << rest.section(QLatin1Char(' '), 1);
    }
    return out;
}

void SimProcess::stop()
{
    // The pty's name is free for the next pty of any process: never hand out a stale one.
    m_ptyPath.clear();
    m_portSetting.clear();
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write("quit\n");
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000)) {
        m_process.terminate();
        if (!m_process.waitForFinished(2000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

void AddTransportRows(bool tcpOnly)
{
    QTest::addColumn<SimProcess::Transport>("transport");
    for (const auto &[name, transport] : AllTransports())
        if (!tcpOnly || transport != SimProcess::Transport::Pty)
            QTest::newRow(name) << transport;
}
