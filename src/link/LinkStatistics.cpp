#include "LinkStatistics.h"

#include "ModbusFrames.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>

namespace {
// Modbus exception codes a gateway answers with for the line behind it.
constexpr int kGatewayPathUnavailable = 10;
constexpr int kGatewayTargetSilent = 11;
bool gatewayCode(int code) {
    return code == kGatewayPathUnavailable || code == kGatewayTargetSilent;
}
} // namespace

quint64 AttemptCounts::attempts() const {
    quint64 n = 0;
    for (quint64 c : byOutcome)
        n += c;
    return n;
}

quint64 AttemptCounts::lineFaults() const {
    return attempts() - of(AttemptOutcome::Good) - of(AttemptOutcome::Exception) +
           gatewayExceptions;
}

void AttemptCounts::add(const AttemptCounts &o) {
    for (size_t i = 0; i < byOutcome.size(); ++i)
        byOutcome[i] += o.byOutcome[i];
    gatewayExceptions += o.gatewayExceptions;
    retries += o.retries;
    linkLosses += o.linkLosses;
}

LineVerdict VerdictOfLine(quint64 lineFaults, quint64 attempts) {
    if (attempts == 0)
        return LineVerdict::NoData;
    // In whole numbers: 1 in 100 is marginal, not good by a rounding.
    if (lineFaults * 100 < attempts * kGoodLineBelowPercent)
        return LineVerdict::Good;
    if (lineFaults * 100 < attempts * kBadLineFromPercent)
        return LineVerdict::Marginal;
    return LineVerdict::Bad;
}

AttemptCounts &RecentAttempts::at(qint64 nowMs) {
    const qint64 second = nowMs / 1000;
    Bucket &b = m_buckets[size_t(second % kSeconds)];
    if (b.second != second) { // a minute old or never used
        b.second = second;
        b.counts = AttemptCounts();
    }
    return b.counts;
}

AttemptCounts RecentAttempts::sum(qint64 nowMs) const {
    const qint64 second = nowMs / 1000;
    AttemptCounts total;
    for (const Bucket &b : m_buckets)
        if (b.second >= 0 && b.second > second - kSeconds && b.second <= second)
            total.add(b.counts);
    return total;
}

qint64 LinkStatistics::MonotonicMs() {
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

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
    std::function<qint64()> keep = std::move(clock);
    *this = LinkStatistics();
    clock = std::move(keep);
    sinceMs = QDateTime::currentMSecsSinceEpoch();
}

void LinkStatistics::CountLinkLoss() {
    ++linkLosses;
    ++recent.at(clock()).linkLosses;
}

double LinkStatistics::WireMs(int requestBytes, int answerBytes, qint32 baud) {
    if (baud <= 0)
        return 0;
    const double chars = requestBytes + (answerBytes > 0 ? 3.5 + answerBytes : 0.0);
    return chars * 11 * 1000.0 / baud;
}

void LinkStatistics::CountAttempt(AttemptOutcome outcome, int exceptionCode, int requestBytes,
                                  int answerBytes, qint32 baud, bool retry) {
    AttemptCounts &now = recent.at(clock());
    ++now.byOutcome[size_t(outcome)];
    if (outcome == AttemptOutcome::Exception && gatewayCode(exceptionCode))
        ++now.gatewayExceptions;
    if (retry) {
        ++retries;
        ++now.retries;
    }
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

AttemptCounts LinkStatistics::totals() const {
    AttemptCounts c;
    auto set = [&](AttemptOutcome o, quint64 n) { c.byOutcome[size_t(o)] = n; };
    set(AttemptOutcome::Good, goodAnswers);
    set(AttemptOutcome::SendFailed, sendFailures);
    set(AttemptOutcome::Timeout, timeouts);
    set(AttemptOutcome::BadCrc, crcErrors);
    set(AttemptOutcome::WrongAddress, wrongAddresses);
    set(AttemptOutcome::Exception, exceptionTotal());
    set(AttemptOutcome::ByteCount, byteCountErrors);
    set(AttemptOutcome::Truncated, truncated);
    set(AttemptOutcome::Noise, noise);
    for (const auto &[code, n] : exceptions)
        if (gatewayCode(code))
            c.gatewayExceptions += n;
    c.retries = retries;
    c.linkLosses = linkLosses;
    return c;
}

quint64 LinkStatistics::exceptionTotal() const {
    quint64 n = 0;
    for (const auto &e : exceptions)
        n += e.second;
    return n;
}
