#include "LinkStatistics.h"

#include "ModbusFrames.h"

#include <QByteArray>
#include <QDateTime>

AttemptOutcome OutcomeOfAnswer(const QByteArray &request, const QByteArray &answer,
                               quint8 *exceptionCode) {
    return OutcomeOfVerdict(ModbusFrame::judgeAnswer(request, answer, exceptionCode), request,
                            answer);
}

AttemptOutcome OutcomeOfVerdict(ModbusFrame::Verdict verdict, const QByteArray &request,
                                const QByteArray &answer) {
    using ModbusFrame::Verdict;
    switch (verdict) {
    case Verdict::Good:
        return AttemptOutcome::Good;
    case Verdict::Missing:
        return AttemptOutcome::Truncated;
    case Verdict::WrongAddress:
        return AttemptOutcome::WrongAddress;
    case Verdict::Exception:
        return AttemptOutcome::Exception;
    case Verdict::WrongData:
        return AttemptOutcome::ByteCount;
    case Verdict::BadCrc:
        break;
    }
    // A damaged CRC on a frame that began as the answer should, or bytes that began as no
    // frame at all (noise before the answer, stray bytes).
    return ModbusFrame::answerLength(ModbusFrame::expectedAnswer(request), answer) > 0
               ? AttemptOutcome::BadCrc
               : AttemptOutcome::Noise;
}

void LinkStatistics::Reset() {
    *this = LinkStatistics();
    sinceMs = QDateTime::currentMSecsSinceEpoch();
}

double LinkStatistics::WireMs(int requestBytes, int answerBytes, qint32 baud) {
    if (baud <= 0)
        return 0;
    const double chars = requestBytes + (answerBytes > 0 ? 3.5 + answerBytes : 0.0);
    return chars * 11 * 1000.0 / baud;
}

void LinkStatistics::CountAttempt(AttemptOutcome outcome, int exceptionCode, int requestBytes,
                                  int answerBytes, qint32 baud, bool retry) {
    if (retry)
        ++retries;
    if (outcome == AttemptOutcome::SendFailed) {
        ++sendFailures;
        return;
    }
    ++requests;
    cycleWireMs += WireMs(requestBytes, answerBytes, baud);
    switch (outcome) {
    case AttemptOutcome::Good:
        ++goodAnswers;
        break;
    case AttemptOutcome::SendFailed:
        break;
    case AttemptOutcome::Timeout:
        ++timeouts;
        break;
    case AttemptOutcome::BadCrc:
        ++crcErrors;
        break;
    case AttemptOutcome::WrongAddress:
        ++wrongAddresses;
        break;
    case AttemptOutcome::Exception:
        ++exceptions[exceptionCode];
        break;
    case AttemptOutcome::ByteCount:
        ++byteCountErrors;
        break;
    case AttemptOutcome::Truncated:
        ++truncated;
        break;
    case AttemptOutcome::Noise:
        ++noise;
        break;
    }
}

void LinkStatistics::CycleEnded(qint64 ms) {
    ++cycles;
    lastCycleMs = ms;
    worstCycleMs = qMax(worstCycleMs, ms);
    totalCycleMs += ms;
    // Tick granularity can make a cycle read shorter than its own traffic: at most all.
    const double wire = ms > 0 ? qMin(cycleWireMs, double(ms)) : 0;
    lastWireShare = ms > 0 ? wire / double(ms) : 0;
    totalWireMs += wire;
    cycleWireMs = 0;
}

quint64 LinkStatistics::exceptionTotal() const {
    quint64 n = 0;
    for (const auto &e : exceptions)
        n += e.second;
    return n;
}
