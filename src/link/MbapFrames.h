#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <deque>

// Modbus TCP (MBAP) framing for a master that thinks in RTU frames: requests go out with a
// header (transaction id counting up, protocol id 0, length, unit id = RTU address) and
// answers come back as RTU frames (address = unit id, CRC computed), so the RTU judgement
// of an answer applies unchanged.
namespace Mbap {

constexpr int HeaderLength = 7; // transaction, protocol, length (words), unit
constexpr int MaxLength = 254;  // of the length field: unit id and a PDU of at most 253

// The MBAP frame of an RTU frame (CRC dropped, not checked); empty for fewer than 4 bytes.
QByteArray FromRtu(const QByteArray &rtu, quint16 transaction);
// The RTU frame of a whole MBAP frame: unit id, PDU, CRC.
QByteArray ToRtu(const QByteArray &frame);
// Whether a PDU is as long as its function says (exception 2 bytes, read 2 + byte count,
// write confirmations 5); unknown functions cannot be told and pass.
bool PduLengthConsistent(QByteArrayView pdu);

// The receiving side of one connection. Whole answers to the request under way (or to an
// earlier attempt of that same request, whose answer is as good) come out as RTU frames.
// An answer to an abandoned request is dropped, as a stale answer on a serial line is.
// Bytes that break the framing (protocol id not 0, impossible or inconsistent length, a
// transaction never sent) come out as they arrived: to the RTU judgement they are noise,
// never an answer; so do the first one's bytes when a cut-short answer and the next one
// glue into one frame. A gateway's own exceptions 10 and 11 (no path, the device did not
// answer) are no answer from the controller: they are dropped, and the wait ends as on a
// line where nobody answers.
class AnswerReader {
public:
    // The MBAP frame to send for this RTU request, with the next transaction id. Earlier
    // transactions of other requests become stale.
    QByteArray request(const QByteArray &rtu);
    // Received bytes in; RTU bytes for the master out.
    QByteArray feed(const QByteArray &bytes);
    // The connection fell silent: a whole frame held for the bytes after it comes out as
    // feed would give it; of a frame incomplete, its RTU start when it belongs to the
    // request (the RTU judgement finds it short), nothing for a stale or unreadable one.
    QByteArray silence();
    bool pending() const { return !m_buffer.isEmpty(); }
    void reset(); // a new connection
    // A new transaction: answers to every request sent so far are stale, even to one equal
    // to the next request (an answer read then would be an old reading).
    void forgetEarlier();
    quint16 lastTransaction() const { return m_transaction; }

private:
    struct Sent {
        quint16 transaction;
        bool current; // of the request under way
    };
    enum class Owner { Current, Stale, None };
    Owner take(quint16 transaction); // forgets it
    QByteArray frames(bool more); // the whole frames in m_buffer, judged; more: bytes may come
    // Whether the bytes of m_buffer from at agree with an MBAP header as far as they go:
    // protocol 0, a length of 2..MaxLength, and the unit id when one is given.
    bool headerFits(qsizetype at, int unit = -1) const;
    // Where a header of another answer starts inside the frame at the front of m_buffer
    // (0: none), or that the bytes still to come decide it.
    struct Splice {
        qsizetype at = 0;
        bool undecided = false;
    };
    Splice spliceIn(qsizetype frameEnd, bool more) const;
    // What the bytes after that frame say of its end.
    enum class Follow { Nothing, Frame, Unsure, Broken };
    Follow following(qsizetype frameEnd) const;

    QByteArray m_buffer;
    quint16 m_transaction = 0;
    std::deque<Sent> m_sent; // answers still owed, oldest first
    QByteArray m_request;    // the RTU request under way
};

} // namespace Mbap
