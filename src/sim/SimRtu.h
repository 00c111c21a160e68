#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

class SimController;

// Length of the request that starts at `at`, judged from its function code: > 0 the whole
// length, 0 while too few bytes have arrived to tell, -1 for a function without a length
// we know (its end is found by the line falling silent).
int RequestLength(const QByteArray &buffer, qsizetype at = 0);

// Slave-side frame end detection. Bytes go in as they arrive; whole requests with a good
// CRC come out, and everything else comes out as ignored bytes with a reason: "badcrc"
// (a request of full length whose CRC is wrong), "truncated" (the line fell silent in the
// middle of a request) or "garbage" (bytes that start no request we know).
class RtuRequestReader {
public:
    struct Event {
        bool frame = false; // otherwise ignored bytes
        QByteArray bytes;
        QString reason;
    };

    void feed(const QByteArray &bytes) { m_buffer.append(bytes); }
    // What the buffer holds now; silence says the line has been quiet for 3.5 characters,
    // which ends whatever is still incomplete.
    QList<Event> take(bool silence);
    bool pending() const { return !m_buffer.isEmpty(); }

private:
    qsizetype findFrame(qsizetype from) const;
    QByteArray cut(qsizetype n);

    QByteArray m_buffer;
};

QByteArray ExceptionFrame(quint8 address, quint8 function, quint8 code);

// The controller's answer to one request with a good CRC addressed to it (functions 3, 6
// and 16; any other function gets exception 1). The answer carries its CRC.
struct SlaveAnswer {
    QByteArray frame;
    quint8 exception = 0;
    bool connectionChanged = false; // a write reached the connection block
};
SlaveAnswer AnswerRequest(SimController &controller, const QByteArray &request);
