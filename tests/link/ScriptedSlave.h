#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

// The far end of a pseudo-terminal, answering each request with what a script returns:
// exact frames for the cases a real slave rarely produces.
class ScriptedSlave : public QObject {
    Q_OBJECT
public:
    struct Answer {
        QByteArray bytes;
        int delayMs = 0;
        int splitAt = 0; // send the first splitAt bytes, the rest splitDelayMs later
        int splitDelayMs = 0;
        int pieceBytes = 0; // else: send in pieces of this many bytes, pieceDelayMs apart
        int pieceDelayMs = 0;
    };
    using Script = std::function<Answer(const QByteArray &request, int number)>;

    ScriptedSlave();
    ~ScriptedSlave() override;
    bool isOpen() const { return m_master >= 0; }
    QString path() const { return m_path; }
    void setScript(Script script) { m_script = std::move(script); }
    void send(const QByteArray &bytes);
    QList<QByteArray> requests;
    QList<qint64> requestTimes; // ms since the slave was made, when each request was complete
    qint64 lastSendTime = -1;   // ms, when the last bytes were handed to the line
    // Requests that came while pieces of an earlier answer were still to be sent.
    int requestsWhileAnswering = 0;

private:
    void readable();
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    QByteArray m_pending;
    int m_piecesToSend = 0;
    QElapsedTimer m_clock;
    Script m_script;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
