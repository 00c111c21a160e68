#include "MqttBridge.h"
#include "MqttTexts.h"

#include "LookupText.h"
#include "MemIniFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QPointer>

#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#ifdef Q_OS_LINUX
#include <pthread.h>
#endif
#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>
#endif
#include <cerrno>

namespace {

std::once_flag g_libInit;

// The texts the network thread needs, looked up once on the owner's thread: the ini is
// not to be read from two threads.
struct BridgeTexts {
    QString connected, retryIn, refused, tls, connecting, seconds, off;
    explicit BridgeTexts(const MemIniFile &t)
        : connected(LookupText(t, Msg::n714)), retryIn(LookupText(t, Msg::n715)),
          refused(LookupText(t, Msg::n716)), tls(LookupText(t, Msg::n717)),
          connecting(LookupText(t, Msg::n718)), seconds(LookupText(t, Msg::n722)),
          off(LookupText(t, Msg::n723))
    {
    }
};

QString DefaultClientId()
{
    return QStringLiteral("velmaris-%1-%2")
        .arg(QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid());
}

} // namespace

struct MqttBridge::Impl {
    MqttBridge *q;
    MqttSettings settings;
    QString controller;
    QString clientId;
    MemIniFile textsIni;
    BridgeTexts texts;
    MqttEndpoint endpoint;
    std::string password;
    bool started = false;

    // The owner's thread only.
    State state = State::Off;
    QString stateText;

    // A message on its way from the owner's thread to the network thread.
    struct Outgoing {
        std::string topic;
        QByteArray payload;
        bool retain = false;
        bool goodbye = false; // the "offline" of the destructor: its delivery is awaited
    };

    // Between the threads, under mx.
    std::mutex mx;
    std::condition_variable cv;
    bool connected = false;   // CONNACK accepted and not lost since
    bool quit = false;        // the destructor wants the thread to end
    bool closing = false;     // the goodbye is still on its way
    bool offlineSent = false;
    std::vector<Outgoing> pending;
    std::map<std::string, QByteArray> retained;
    std::atomic<quint64> sent{0};
    std::atomic<quint64> dropped{0};
    std::thread thread;
    // Wakes the network thread's poll: one byte per batch, not per message.
    int wakeRead = -1, wakeWrite = -1;

    // The network thread only.
    int connackCode = -1;
    int offlineMid = -1;
    QString tlsDetail; // the last OpenSSL complaint libmosquitto logged

    Impl(MqttBridge *bridge, const MqttSettings &s, const QString &ctrl, const MemIniFile &t,
         const QString &suffix)
        : q(bridge), settings(s), controller(ctrl), textsIni(t), texts(t)
    {
        clientId = s.clientId.isEmpty() ? DefaultClientId() : s.clientId;
        if (!suffix.isEmpty())
            clientId += u'-' + suffix;
    }

    ~Impl()
    {
#ifndef Q_OS_WIN
        if (wakeRead >= 0)
            ::close(wakeRead);
        if (wakeWrite >= 0)
            ::close(wakeWrite);
#endif
    }

    bool makeWake()
    {
#ifndef Q_OS_WIN
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
            return false;
        wakeRead = fds[0];
        wakeWrite = fds[1];
#endif
        return true;
    }

    void wake()
    {
#ifndef Q_OS_WIN
        const char b = 1;
        [[maybe_unused]] const auto n = ::write(wakeWrite, &b, 1); // a full pipe wakes too
#endif
    }

    void drainWake()
    {
#ifndef Q_OS_WIN
        char buf[64];
        while (::read(wakeRead, buf, sizeof buf) > 0) {
        }
#endif
    }

    std::string topicOf(const QString &sub) const
    {
        return (settings.prefix + u'/' + controller + u'/' + sub).toStdString();
    }

    // From any thread: the owner hears it once per change.
    void report(State s, const QString &text)
    {
        QMetaObject::invokeMethod(
            q,
            [this, s, text] {
                if (s == state && text == stateText)
                    return;
                state = s;
                stateText = text;
                emit q->stateChanged(s, text);
            },
            Qt::QueuedConnection);
    }

    QString where() const { return endpoint.host + u':' + QString::number(endpoint.port); }

    // Under mx, on the owner's thread.
    void enqueue(Outgoing out)
    {
        const bool first = pending.empty();
        pending.push_back(std::move(out));
        if (first)
            wake();
    }

    // The network thread.
    void send(mosquitto *c, const Outgoing &out)
    {
        int mid = -1;
        const int rc = mosquitto_publish(c, &mid, out.topic.c_str(), int(out.payload.size()),
                                         out.payload.constData(), settings.qos, out.retain);
        if (rc != MOSQ_ERR_SUCCESS) {
            ++dropped;
            return;
        }
        ++sent;
        if (out.goodbye)
            offlineMid = mid;
    }

    static void onConnect(mosquitto *c, void *obj, int rc)
    {
        auto *d = static_cast<Impl *>(obj);
        d->connackCode = rc;
        if (rc != 0)
            return;
        // The log is for the TLS handshake's complaints; once in, libmosquitto would format
        // a line for every packet sent and received.
        mosquitto_log_callback_set(c, nullptr);
        std::vector<Outgoing> again;
        {
            std::lock_guard lock(d->mx);
            d->connected = true;
            // Whatever waited was meant for the connection before: the retained values
            // below are its latest.
            d->pending.clear();
            for (const auto &[topic, payload] : d->retained)
                again.push_back({topic, payload, true, false});
        }
        // The broker may have lost them, or another client may have written over them
        // (the last will): the latest values go again.
        for (const Outgoing &out : again)
            d->send(c, out);
    }

    static void onPublish(mosquitto *, void *obj, int mid)
    {
        auto *d = static_cast<Impl *>(obj);
        if (d->offlineMid < 0 || mid != d->offlineMid)
            return;
        std::lock_guard lock(d->mx);
        d->offlineSent = true;
        d->cv.notify_all();
    }

    static void onLog(mosquitto *, void *obj, int level, const char *line)
    {
        auto *d = static_cast<Impl *>(obj);
        if (level == MOSQ_LOG_ERR && line && std::strstr(line, "OpenSSL Error"))
            d->tlsDetail = QString::fromUtf8(line);
    }

    mosquitto *makeClient()
    {
        mosquitto *c = mosquitto_new(clientId.toUtf8().constData(), true, this);
        if (!c)
            return nullptr;
        // Only this thread touches the client: a publish is written at once, and the
        // owner's thread never enters libmosquitto.
        mosquitto_threaded_set(c, false);
        mosquitto_int_option(c, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        const std::string status = topicOf(QStringLiteral("status"));
        mosquitto_will_set(c, status.c_str(), 7, "offline", settings.qos, true);
        if (!settings.user.isEmpty())
            mosquitto_username_pw_set(c, settings.user.toUtf8().constData(), password.c_str());
        if (endpoint.tls) {
            const QByteArray ca = QFile::encodeName(settings.caFile);
            mosquitto_tls_set(c, ca.isEmpty() ? nullptr : ca.constData(),
                              ca.isEmpty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr,
                              nullptr);
            mosquitto_tls_opts_set(c, 1, nullptr, nullptr);
        }
        mosquitto_connect_callback_set(c, &Impl::onConnect);
        mosquitto_publish_callback_set(c, &Impl::onPublish);
        mosquitto_log_callback_set(c, &Impl::onLog);
        return c;
    }

    QString failureText(int rc, int retrySeconds) const
    {
        if (connackCode == 4 || connackCode == 5)
            return texts.refused;
        if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE || !tlsDetail.isEmpty())
            return texts.tls + (tlsDetail.isEmpty() ? QString::fromUtf8(mosquitto_strerror(rc))
                                                    : tlsDetail);
        return texts.retryIn + QString::number(retrySeconds) + texts.seconds;
    }

    // One connection until it fails or the owner ends it; MOSQ_ERR_SUCCESS when ended.
    int serve(mosquitto *c, int &backoff)
    {
        bool wasConnected = false;
        std::vector<Outgoing> batch;
        while (true) {
            {
                std::lock_guard lock(mx);
                if (connected && !wasConnected) {
                    wasConnected = true;
                    backoff = 1;
                    report(State::Connected, texts.connected + where());
                }
                if (quit && (!closing || !connected || offlineSent))
                    return MOSQ_ERR_SUCCESS;
                batch.swap(pending);
            }
            const int sock = mosquitto_socket(c);
            if (sock < 0)
                return MOSQ_ERR_NO_CONN;
            if (!batch.empty()) {
#ifdef Q_OS_LINUX
                // A cycle's messages leave in as few segments as fit, not one each: every
                // segment costs a trip through the loopback or the network stack.
                int cork = batch.size() > 1;
                if (cork)
                    setsockopt(sock, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
#endif
                for (const Outgoing &out : batch)
                    send(c, out);
#ifdef Q_OS_LINUX
                if (cork) {
                    cork = 0;
                    setsockopt(sock, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
                }
#endif
                batch.clear();
            }
            pollfd fds[2] = {{sock, short(POLLIN | (mosquitto_want_write(c) ? POLLOUT : 0)), 0},
                             {wakeRead, POLLIN, 0}};
#ifndef Q_OS_WIN
            ::poll(fds, 2, 1000);
            if (fds[1].revents)
                drainWake();
#else
            WSAPoll(fds, 1, 10); // no wake there: a short poll picks up the queue
#endif
            int rc = MOSQ_ERR_SUCCESS;
            if (fds[0].revents & (POLLIN | POLLERR | POLLHUP))
                rc = mosquitto_loop_read(c, 1);
            if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(c))
                rc = mosquitto_loop_write(c, 1);
            if (rc == MOSQ_ERR_SUCCESS)
                rc = mosquitto_loop_misc(c);
            if (rc != MOSQ_ERR_SUCCESS)
                return rc;
            if (connackCode > 0)
                return MOSQ_ERR_CONN_REFUSED;
        }
    }

    void run()
    {
#ifdef Q_OS_LINUX
        pthread_setname_np(pthread_self(), "mqtt-bridge"); // for top and the benchmark
#endif
        int backoff = 1;
        while (true) {
            {
                std::lock_guard lock(mx);
                if (quit)
                    break;
            }
            // A fresh client each try: libmosquitto would otherwise send the QoS>0 messages
            // queued while the link was dying after the newer values republished on connect.
            mosquitto *c = makeClient();
            connackCode = -1;
            offlineMid = -1;
            tlsDetail.clear();
            // Not blocking on the TCP connect: an address that swallows SYNs would hold the
            // destructor for minutes. (The name is still looked up blocking, here.)
            int rc = c ? mosquitto_connect_async(c, endpoint.host.toUtf8().constData(), endpoint.port,
                                           settings.keepAliveSeconds)
                       : MOSQ_ERR_NOMEM;
            if (rc == MOSQ_ERR_SUCCESS)
                rc = serve(c, backoff);
            bool ending;
            {
                std::lock_guard lock(mx);
                connected = false;
                pending.clear();
                ending = quit;
                cv.notify_all();
            }
            if (c) {
                if (rc == MOSQ_ERR_SUCCESS) {
                    mosquitto_disconnect(c); // written at once: the client is not threaded
                    mosquitto_loop_write(c, 1);
                }
                mosquitto_destroy(c);
            }
            if (ending)
                break;
            report(State::Connecting, failureText(rc, backoff));
            std::unique_lock lock(mx);
            cv.wait_for(lock, std::chrono::seconds(backoff), [this] { return quit; });
            if (quit)
                break;
            // The failure's text stays until the next outcome: a log gets one line a try.
            backoff = std::min(backoff * 2, 60);
        }
    }
};

MqttBridge::MqttBridge(const MqttSettings &settings, const QString &controller,
                       const MemIniFile &texts, const QString &clientIdSuffix, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>(this, settings, controller, texts, clientIdSuffix))
{
    d->stateText = d->texts.off;
}

MqttBridge::~MqttBridge()
{
    if (!d->thread.joinable())
        return;
    {
        std::lock_guard lock(d->mx);
        const std::string status = d->topicOf(QStringLiteral("status"));
        d->retained[status] = QByteArrayLiteral("offline");
        if (d->connected) {
            d->pending.push_back({status, QByteArrayLiteral("offline"), true, true});
            d->closing = true;
        }
        d->quit = true;
    }
    d->wake();
    d->cv.notify_all();
    // The goodbye gets about a second; a broker that does not take it in that time hears
    // the will.
    {
        std::unique_lock lock(d->mx);
        d->cv.wait_for(lock, std::chrono::milliseconds(1000),
                       [this] { return d->offlineSent || !d->connected; });
        d->closing = false;
    }
    d->wake();
    d->thread.join();
}

bool MqttBridge::Start(QString &error)
{
    if (d->started)
        return true;
    QString password;
    if (!CheckMqttSettings(d->settings, d->textsIni, error) ||
        !ParseMqttUrl(d->settings.url, d->endpoint, d->textsIni, error) ||
        (!d->settings.passwordFile.isEmpty() &&
         !ReadPasswordFile(d->settings.passwordFile, password, d->textsIni, error))) {
        d->state = State::Failed;
        d->stateText = error;
        emit stateChanged(d->state, error);
        return false;
    }
    d->password = password.toStdString();
    if (!d->makeWake()) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        d->state = State::Failed;
        d->stateText = error;
        emit stateChanged(d->state, error);
        return false;
    }
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });
    d->started = true;
    d->state = State::Connecting;
    d->stateText = d->texts.connecting + d->where();
    emit stateChanged(d->state, d->stateText);
    d->thread = std::thread([this] { d->run(); });
    return true;
}

QString MqttBridge::topic(const QString &sub) const
{
    return d->settings.prefix + u'/' + d->controller + u'/' + sub;
}

QString MqttBridge::controllerLevel() const
{
    return d->controller;
}

void MqttBridge::PublishRetained(const QString &topic, const QByteArray &payload)
{
    std::string t = topic.toStdString();
    std::lock_guard lock(d->mx);
    d->retained[t] = payload;
    if (d->connected)
        d->enqueue({std::move(t), payload, true, false});
}

void MqttBridge::Publish(const QString &topic, const QByteArray &payload)
{
    std::lock_guard lock(d->mx);
    if (d->connected)
        d->enqueue({topic.toStdString(), payload, false, false});
    else
        ++d->dropped;
}

MqttBridge::State MqttBridge::state() const
{
    return d->state;
}

QString MqttBridge::stateText() const
{
    return d->stateText;
}

quint64 MqttBridge::sentCount() const
{
    return d->sent;
}

quint64 MqttBridge::droppedCount() const
{
    return d->dropped;
}
