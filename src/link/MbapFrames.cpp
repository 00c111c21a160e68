#include "MbapFrames.h"

#include "ModbusCrc.h"
#include "ModbusFrames.h"

#include <algorithm>

namespace Mbap {

namespace {

constexpr std::size_t kRemembered = 16; // transactions whose answers may still come
constexpr quint8 kGatewayPathUnavailable = 0x0A;
constexpr quint8 kGatewayTargetSilent = 0x0B;

// The gateway speaks for itself: the controller behind it has not answered.
bool gatewaySaysNoAnswer(const QByteArray &frame) {
    return frame.size() == HeaderLength + 2 &&
           (quint8(frame[HeaderLength]) & ModbusFrame::ExceptionFlag) &&
           (quint8(frame[HeaderLength + 1]) == kGatewayPathUnavailable ||
            quint8(frame[HeaderLength + 1]) == kGatewayTargetSilent);
}

quint16 wordAt(const QByteArray &b, qsizetype at) {
    return ModbusFrame::word(b, at);
}

} // namespace

QByteArray FromRtu(const QByteArray &rtu, quint16 transaction) {
    if (rtu.size() < 4)
        return {};
    const QByteArray pdu = rtu.mid(1, rtu.size() - 3);
    QByteArray f;
    f.reserve(HeaderLength + pdu.size());
    ModbusFrame::appendWord(f, transaction);
    ModbusFrame::appendWord(f, 0);
    ModbusFrame::appendWord(f, quint16(1 + pdu.size()));
    f.append(rtu[0]);
    f.append(pdu);
    return f;
}

QByteArray ToRtu(const QByteArray &frame) {
    QByteArray rtu = frame.mid(HeaderLength - 1); // unit id and PDU
    AppendModbusCrc(rtu);
    return rtu;
}

bool PduLengthConsistent(const QByteArray &pdu) {
    if (pdu.isEmpty())
        return false;
    const quint8 function = quint8(pdu[0]);
    if (function & ModbusFrame::ExceptionFlag)
        return pdu.size() == 2;
    switch (function) {
    case 1:
    case 2:
    case 3:
    case 4:
        return pdu.size() >= 2 && pdu.size() == 2 + quint8(pdu[1]);
    case 5:
    case 6:
    case 15:
    case 16:
        return pdu.size() == 5;
    default:
        return true;
    }
}

QByteArray AnswerReader::request(const QByteArray &rtu) {
    // Part of a frame still waiting (a truncated answer, or one cut off by the time-out)
    // must not be completed by the bytes of the next answer: its header's length would
    // take them in, and the frame made of the two would pass for a whole answer.
    m_buffer.clear();
    if (rtu != m_request) {
        for (Sent &s : m_sent)
            s.current = false;
        m_request = rtu;
    }
    ++m_transaction;
    m_sent.push_back({m_transaction, true});
    while (m_sent.size() > kRemembered)
        m_sent.pop_front();
    return FromRtu(rtu, m_transaction);
}

AnswerReader::Owner AnswerReader::take(quint16 transaction) {
    for (auto it = m_sent.begin(); it != m_sent.end(); ++it)
        if (it->transaction == transaction) {
            const bool current = it->current;
            m_sent.erase(it);
            return current ? Owner::Current : Owner::Stale;
        }
    return Owner::None;
}

AnswerReader::Splice AnswerReader::spliceIn(const QByteArray &frame, bool more) const {
    // A cut-short answer and the next one arriving before the silence that ends it glue
    // into one frame of the first one's length, and nothing in Modbus TCP (no CRC) tells.
    // The second one's header among the values does: a transaction still owed, protocol
    // 0, a possible length and the same unit id. A header that starts near the end may
    // still be coming in the next bytes. A value that only looks like one costs a wait
    // for silence or a retry; a splice let through puts another register's value in a cell.
    const QByteArray seen = frame + m_buffer;
    const char unit = frame[HeaderLength - 1];
    for (qsizetype at = 1; at < frame.size(); ++at) {
        const qsizetype have = seen.size() - at;
        if (have < 2)
            break; // one byte says too little: it would hold most answers
        const quint16 transaction = wordAt(seen, at);
        if (std::none_of(m_sent.begin(), m_sent.end(),
                         [&](const Sent &s) { return s.transaction == transaction; }))
            continue;
        // What has come of the rest agrees with a header: 00 00 | 00 length | unit.
        bool header = true;
        for (qsizetype k = 2; k < qMin<qsizetype>(have, HeaderLength) && header; ++k) {
            const quint8 b = quint8(seen[at + k]);
            header = k < 5 ? b == 0 : k == 5 ? b >= 2 && b <= MaxLength : b == quint8(unit);
        }
        if (!header)
            continue;
        if (have >= HeaderLength)
            return {at, false};
        if (more)
            return {0, true};
    }
    return {};
}

AnswerReader::Follow AnswerReader::following() const {
    if (m_buffer.isEmpty())
        return Follow::Nothing;
    // After the transaction id: protocol 0, then a length of 2..MaxLength.
    for (qsizetype k = 2; k < qMin<qsizetype>(m_buffer.size(), 6); ++k) {
        const quint8 b = quint8(m_buffer[k]);
        if (k < 5 ? b != 0 : b < 2 || b > MaxLength)
            return Follow::Broken;
    }
    return m_buffer.size() < 6 ? Follow::Unsure : Follow::Frame;
}

QByteArray AnswerReader::feed(const QByteArray &bytes) {
    m_buffer.append(bytes);
    return frames(true);
}

QByteArray AnswerReader::frames(bool more) {
    QByteArray out;
    while (m_buffer.size() >= 4) {
        const quint16 length = m_buffer.size() >= 6 ? wordAt(m_buffer, 4) : 2;
        if (wordAt(m_buffer, 2) != 0 || length < 2 || length > MaxLength) {
            // No frame starts here, and no later byte can be trusted to start one.
            out.append(m_buffer);
            m_buffer.clear();
            break;
        }
        const qsizetype total = 6 + length;
        if (m_buffer.size() < qMax<qsizetype>(total, 6))
            break;
        const QByteArray frame = m_buffer.left(total);
        m_buffer.remove(0, total);
        if (!PduLengthConsistent(frame.mid(HeaderLength))) {
            // The length field lies, so where the next frame starts is unknown.
            out.append(frame);
            out.append(m_buffer);
            m_buffer.clear();
            break;
        }
        const Splice splice = spliceIn(frame, more);
        if (splice.undecided) {
            m_buffer.prepend(frame); // the next bytes or silence decide
            break;
        }
        if (splice.at > 0) {
            // Framed from the start of one answer and the end of another: the bytes
            // before the inner header come out as they arrived, the inner frame is read.
            out.append(frame.left(splice.at));
            m_buffer.prepend(frame.mid(splice.at));
            continue;
        }
        // Where a frame ends is only as sure as what follows it: bytes there that start no
        // frame, or that silence leaves short of a header, mean its length took in the
        // start of another answer, whose header passed unrecognised (damaged, behind
        // stray bytes, or its transaction forgotten).
        const Follow follow = following();
        if (follow == Follow::Unsure && more) {
            m_buffer.prepend(frame);
            break;
        }
        if (follow == Follow::Broken || follow == Follow::Unsure) {
            out.append(frame);
            out.append(m_buffer);
            m_buffer.clear();
            break;
        }
        switch (take(wordAt(frame, 0))) {
        case Owner::Current:
            if (!gatewaySaysNoAnswer(frame))
                out.append(ToRtu(frame));
            break;
        case Owner::Stale:
            break; // the answer to an abandoned request
        case Owner::None:
            out.append(frame);
            break;
        }
    }
    return out;
}

QByteArray AnswerReader::silence() {
    QByteArray out = frames(false); // a whole frame held for its last bytes is whole
    if (m_buffer.size() >= HeaderLength) {
        switch (take(wordAt(m_buffer, 0))) {
        case Owner::Current:
            out += m_buffer.mid(HeaderLength - 1);
            break; // no CRC: short
        case Owner::Stale:
            break;
        case Owner::None:
            out += m_buffer;
            break;
        }
    }
    m_buffer.clear();
    return out;
}

void AnswerReader::reset() {
    m_buffer.clear();
    m_sent.clear();
    m_request.clear();
}

} // namespace Mbap
