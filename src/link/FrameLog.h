#pragma once
#include "LinkStatistics.h"

#include <QByteArray>
#include <QString>
#include <vector>

class MemIniFile;

// The last frames on the link, request and answer of every attempt, in a ring of fixed
// size. Recording keeps the raw bytes and the times only (the byte arrays are shared, not
// copied); everything a person reads is made from them when shown.
class FrameLog {
public:
    enum class Direction : quint8 { Request, Answer };
    struct Frame {
        quint64 seq = 0;   // counts every frame recorded since the start
        qint64 timeMs = 0; // ms since the epoch: sent, or the answer's read ended
        Direction direction = Direction::Request;
        AttemptOutcome outcome = AttemptOutcome::Good; // of the attempt, on both frames
        quint8 attempt = 1;       // of its transaction: 1 the first, 2 on retries
        quint8 exceptionCode = 0; // of an exception answer
        qint32 responseMs = -1;   // an answer's, from sending the request; -1 none came
        QByteArray bytes;         // empty: no answer came
        QByteArray request; // the request of the attempt (the frame itself for a request)
    };
    // One attempt: its request as sent at txMs and, when the request left the port, the
    // answer (empty when none came) at rxMs. The failure is kept as its kind and code, its
    // text made in the language shown.
    struct Attempt {
        qint64 txMs = 0;
        QByteArray request;
        bool sent = false;
        qint64 rxMs = 0;
        QByteArray answer;
        AttemptOutcome outcome = AttemptOutcome::Good;
        int exceptionCode = 0;
        int number = 1;
        qint64 responseMs = -1; // measured apart from the wall clock; -1 not measured
    };

    static constexpr int kDefaultCapacity = 2000;
    explicit FrameLog(int capacity = kDefaultCapacity);

    // Off: nothing is recorded (for measuring what recording costs).
    void setEnabled(bool on) { m_enabled = on; }
    bool enabled() const { return m_enabled; }
    int capacity() const { return int(m_ring.size()); }

    void RecordAttempt(const Attempt &attempt);

    // The frames held are those with firstSeq() <= seq < nextSeq(), oldest first.
    quint64 firstSeq() const { return m_next > m_ring.size() ? m_next - m_ring.size() : 0; }
    quint64 nextSeq() const { return m_next; }
    int size() const { return int(m_next - firstSeq()); }
    const Frame &at(quint64 seq) const { return m_ring[size_t(seq % m_ring.size())]; }
    void Clear();

private:
    Frame &append(const Attempt &a, Direction direction);

    std::vector<Frame> m_ring;
    quint64 m_next = 0;
    bool m_enabled = true;
};

// What a frame says, read from its bytes for showing. -1: not in this frame.
struct DecodedFrame {
    int function = -1;      // as sent or answered (0x83: an exception to function 3)
    int start = -1;         // first register
    int count = -1;         // registers
    int exceptionCode = -1; // of an exception answer
};
// The name of a Modbus exception code in the settings' language; empty for a code without
// one.
QString ExceptionName(const MemIniFile &settings, int code);

// A request: function, start and count (function 6: its register, count 1).
DecodedFrame DecodeRequest(const QByteArray &request);
// An answer, with the start and count of the request it answers.
DecodedFrame DecodeAnswer(const QByteArray &answer, const QByteArray &request);
