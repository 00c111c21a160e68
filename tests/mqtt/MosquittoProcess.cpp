#include "MosquittoProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <mosquitto.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace {

int FreePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool Run(const QString &program, const QStringList &args, const QString &dir, QString *error)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = program + u' ' + args.join(u' ') + QStringLiteral(": ") +
                     QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

} // namespace

MosquittoProcess::MosquittoProcess()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(m_dir.filePath(QStringLiteral("mosquitto.log")),
                                    QIODevice::Append);
}

MosquittoProcess::~MosquittoProcess()
{
    stop();
}

bool MosquittoProcess::start(const QStringList &configLines)
{
    if (isRunning())
        return true;
    if (m_port == 0)
        m_port = FreePort();
    QFile conf(m_dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write ") + conf.fileName();
        return false;
    }
    // As root the broker would become user "mosquitto", who cannot read the test's folder.
    const passwd *me = ::getpwuid(::geteuid());
    QStringList lines{QStringLiteral("user ") + QString::fromLocal8Bit(me ? me->pw_name : "root"),
                      QStringLiteral("per_listener_settings false"),
                      QStringLiteral("persistence false"),
                      QStringLiteral("log_dest stdout"),
                      QStringLiteral("listener %1 127.0.0.1").arg(m_port)};
    lines << configLines;
    conf.write((lines.join(u'\n') + u'\n').toUtf8());
    conf.close();
    m_process.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!m_process.waitForStarted(5000)) {
        m_error = QStringLiteral("mosquitto did not start: ") + m_process.errorString();
        return false;
    }
    // Listening once a connection is taken.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && isRunning()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        if (probe.waitForConnected(500)) {
            probe.abort();
            return true;
        }
        QTest::qWait(50);
    }
    m_error = QStringLiteral("mosquitto does not listen on %1: %2").arg(m_port).arg(log());
    stop();
    return false;
}

void MosquittoProcess::stop()
{
    const qint64 pid = m_process.processId();
    if (pid <= 0 || !isRunning())
        return;
    ::kill(pid_t(pid), SIGTERM);
    if (!m_process.waitForFinished(5000)) {
        ::kill(pid_t(pid), SIGKILL);
        m_process.waitForFinished(5000);
    }
}

QString MosquittoProcess::log() const
{
    QFile f(m_dir.filePath(QStringLiteral("mosquitto.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString MosquittoProcess::makePasswordFile(const QString &user, const QString &password)
{
    const QString path = m_dir.filePath(QStringLiteral("passwd"));
    QFile::remove(path);
    QString error;
    if (!Run(QStringLiteral("mosquitto_passwd"), {"-b", "-c", path, user, password}, dir(), &error))
        qWarning("%s", qPrintable(error));
    return path;
}

bool MosquittoProcess::makeCa(const QString &name, QString *error)
{
    return Run(QStringLiteral("openssl"),
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Velmaris test CA " + name, "-keyout", name + ".key", "-out", name + ".crt"},
               dir(), error);
}

bool MosquittoProcess::makeCertificates(QString *error)
{
    QFile ext(m_dir.filePath(QStringLiteral("server.ext")));
    if (!ext.open(QIODevice::WriteOnly))
        return false;
    ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n");
    ext.close();
    return makeCa(QStringLiteral("ca"), error) &&
           Run(QStringLiteral("openssl"),
               {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                "server.key", "-out", "server.csr"},
               dir(), error) &&
           Run(QStringLiteral("openssl"),
               {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", "server.ext", "-out", "server.crt"},
               dir(), error);
}

// ---------------------------------------------------------------------------------------

MqttSubscriber::MqttSubscriber()
{
    mosquitto_lib_init();
}

MqttSubscriber::~MqttSubscriber()
{
    disconnect();
}

void MqttSubscriber::onConnect(mosquitto *, void *obj, int rc)
{
    auto *s = static_cast<MqttSubscriber *>(obj);
    std::lock_guard lock(s->m_mx);
    s->m_connack = rc;
}

void MqttSubscriber::onSubscribe(mosquitto *, void *obj, int, int, const int *)
{
    auto *s = static_cast<MqttSubscriber *>(obj);
    std::lock_guard lock(s->m_mx);
    ++s->m_granted;
}

void MqttSubscriber::onMessage(mosquitto *, void *obj, const mosquitto_message *msg)
{
    auto *s = static_cast<MqttSubscriber *>(obj);
    Message m{QString::fromUtf8(msg->topic),
              QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen), msg->retain};
    std::lock_guard lock(s->m_mx);
    s->m_messages.push_back(std::move(m));
}

bool MqttSubscriber::connect(int port, const QStringList &filters, const QString &user,
                             const QString &password)
{
    disconnect();
    m_client = mosquitto_new(nullptr, true, this);
    if (!user.isEmpty())
        mosquitto_username_pw_set(m_client, user.toUtf8().constData(),
                                  password.toUtf8().constData());
    mosquitto_connect_callback_set(m_client, &MqttSubscriber::onConnect);
    mosquitto_subscribe_callback_set(m_client, &MqttSubscriber::onSubscribe);
    mosquitto_message_callback_set(m_client, &MqttSubscriber::onMessage);
    {
        std::lock_guard lock(m_mx);
        m_granted = 0;
        m_connack = -1;
    }
    if (mosquitto_connect(m_client, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return false;
    for (const QString &f : filters)
        mosquitto_subscribe(m_client, nullptr, f.toUtf8().constData(), 1);
    mosquitto_loop_start(m_client);
    return waitFor([&] {
        std::lock_guard lock(m_mx);
        return m_connack == 0 && m_granted == filters.size();
    });
}

void MqttSubscriber::disconnect()
{
    if (!m_client)
        return;
    mosquitto_disconnect(m_client);
    mosquitto_loop_stop(m_client, true);
    mosquitto_destroy(m_client);
    m_client = nullptr;
}

std::vector<MqttSubscriber::Message> MqttSubscriber::messages() const
{
    std::lock_guard lock(m_mx);
    return m_messages;
}

MqttSubscriber::Message MqttSubscriber::latest(const QString &topic) const
{
    std::lock_guard lock(m_mx);
    for (auto it = m_messages.rbegin(); it != m_messages.rend(); ++it)
        if (it->topic == topic)
            return *it;
    return {};
}

int MqttSubscriber::count(const QString &topic) const
{
    std::lock_guard lock(m_mx);
    return int(std::count_if(m_messages.begin(), m_messages.end(),
                             [&](const Message &m) { return m.topic == topic; }));
}

void MqttSubscriber::clear()
{
    std::lock_guard lock(m_mx);
    m_messages.clear();
}

bool MqttSubscriber::waitFor(const std::function<bool()> &done, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}
