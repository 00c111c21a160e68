#pragma once
#include <QProcess>
#include <QStringList>

// qor7070-sim started by a benchmark on a pty, without a traffic log (logging would slow
// the slave and blur what is measured). It ends when its standard input closes.
class BenchSim {
public:
    ~BenchSim() { stop(); }
    bool start(const QStringList &arguments);
    void stop();
    QString ptyPath() const { return m_pty; }
    QString error() const { return m_error; }
    // One command line; the reply line (OK ... / ERR ...), empty on time-out.
    QString command(const QString &line);

private:
    QString nextLine(int timeoutMs);

    QProcess m_process;
    QByteArray m_out;
    QString m_pty;
    QString m_error;
};
