#pragma once
#include "LinkStatistics.h"

#include <QByteArray>
#include <QString>
#include <vector>

class MemIniFile;
struct TextKey;

// A failure as it is kept: its message key and, for an exception answer, the code that
// follows the text. The text is made when shown, so it follows the language in use.
struct LoggedFailure {
    const TextKey *key = nullptr; // none: the attempt succeeded
    int code = -1;                // -1: no code
};
// "<text of the key><code in hex>", empty for none.
QString FailureText(const MemIniFile &settings, const LoggedFailure &failure);

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
        QByteArray bytes;                              // empty: no answer came
        QByteArray request;    // the request of the attempt (the frame itself for a request)
        LoggedFailure failure; // of the attempt; no key when it succeeded
    };

    static constexpr int kDefaultCapacity = 2000;
    explicit FrameLog(int capacity = kDefaultCapacity);

    // Off: nothing is recorded (for measuring what recording costs).
    void setEnabled(bool on) { m_enabled = on; }
    bool enabled() const { return m_enabled; }
    int capacity() const { return int(m_ring.size()); }

    // One attempt: its request as sent at txMs and, when the request left the port, the
    // answer (empty when none came) at rxMs.
    void RecordAttempt(qint64 txMs, const QByteArray &request, bool sent, qint64 rxMs,
                       const QByteArray &answer, AttemptOutcome outcome,
                       const LoggedFailure &failure);

    // The frames held are those with firstSeq() <= seq < nextSeq(), oldest first.
    quint64 firstSeq() const { return m_next > m_ring.size() ? m_next - m_ring.size() : 0; }
    quint64 nextSeq() const { return m_next; }
    int size() const { return int(m_next - firstSeq()); }
    const Frame &at(quint64 seq) const { return m_ring[size_t(seq % m_ring.size())]; }
    void Clear();

private:
    void append(qint64 timeMs, Direction direction, const QByteArray &bytes,
                const QByteArray &request, AttemptOutcome outcome, const LoggedFailure &failure);

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
// A request: function, start and count (function 6: its register, count 1).
DecodedFrame DecodeRequest(const QByteArray &request);
// An answer, with the start and count of the request it answers.
DecodedFrame DecodeAnswer(const QByteArray &answer, const QByteArray &request);
