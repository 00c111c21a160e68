#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <mutex>
#include <vector>

struct mosquitto;

// /usr/sbin/mosquitto run by a test on a free loopback port with a config file of its own
// (in a temporary folder that also holds its password file and certificates), ended by
// its PID.
class MosquittoProcess {
public:
    MosquittoProcess();
    ~MosquittoProcess();
    MosquittoProcess(const MosquittoProcess &) = delete;
    MosquittoProcess &operator=(const MosquittoProcess &) = delete;

    // Lines after "listener PORT 127.0.0.1" (allow_anonymous, password_file, cafile, ...).
    // The port is picked at the first start and kept for a restart. False, with
    // errorText(), when the broker did not listen within the time.
    bool start(const QStringList &configLines = {QStringLiteral("allow_anonymous true")});
    void stop(); // SIGTERM to its PID, then SIGKILL when it lingers
    bool isRunning() const { return m_process.state() == QProcess::Running; }

    int port() const { return m_port; }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(m_port); }
    QString dir() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString errorText() const { return m_error; }
    QString log() const;

    // mosquitto_passwd -b -c into the folder; the path of the file.
    QString makePasswordFile(const QString &user, const QString &password);
    // A CA (ca.crt, ca.key) and a server certificate for 127.0.0.1 signed by it
    // (server.crt, server.key); with another name a second CA for a wrong-CA case.
    bool makeCertificates(QString *error);
    bool makeCa(const QString &name, QString *error);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

// A subscriber of its own (libmosquitto, its own thread): every message with its topic,
// payload and retain flag, in order of arrival.
class MqttSubscriber {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retain = false;
    };
    MqttSubscriber();
    ~MqttSubscriber();
    // Connects and subscribes; true once the broker granted the subscriptions.
    bool connect(int port, const QStringList &filters, const QString &user = {},
                 const QString &password = {});
    void disconnect();
    std::vector<Message> messages() const;
    // The newest message of the topic; empty topic when none came.
    Message latest(const QString &topic) const;
    int count(const QString &topic) const;
    void clear();
    // Waits (running the test's events) until the predicate holds or the time is over.
    bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000) const;

private:
    static void onMessage(mosquitto *, void *, const struct mosquitto_message *);
    static void onSubscribe(mosquitto *, void *, int, int, const int *);
    static void onConnect(mosquitto *, void *, int);
    mosquitto *m_client = nullptr;
    mutable std::mutex m_mx;
    std::vector<Message> m_messages;
    int m_granted = 0;
    int m_connack = -1;
};
