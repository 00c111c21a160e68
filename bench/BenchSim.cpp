#include "BenchSim.h"

#include <QDeadlineTimer>

bool BenchSim::start(const QStringList &arguments)
{
    stop();
    m_out.clear();
    m_pty.clear();
    m_process.start(QStringLiteral(VELMARIS_SIM_PATH),
                    QStringList{"--pty", "--quiet", "--quit-on-eof"} + arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    const QString first = nextLine(10000);
    if (!first.startsWith(QLatin1String("PTY "))) {
        m_error = QStringLiteral("no PTY line: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
        stop();
        return false;
    }
    m_pty = first.mid(4).trimmed();
    return true;
}

QString BenchSim::nextLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_out += m_process.readAllStandardOutput();
        const qsizetype end = m_out.indexOf('\n');
        if (end >= 0) {
            const QString line = QString::fromUtf8(m_out.left(end));
            m_out.remove(0, end + 1);
            return line;
        }
        if (deadline.hasExpired() || m_process.state() != QProcess::Running)
            return {};
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

QString BenchSim::command(const QString &line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(5000);
    return nextLine(5000);
}

void BenchSim::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // --quit-on-eof
    if (!m_process.waitForFinished(3000)) {
        m_process.terminate(); // our own child, by its pid
        m_process.waitForFinished(2000);
    }
}
