#pragma once
#include "ModbusFrames.h"

#include <QtGlobal>
#include <array>
#include <functional>
#include <map>

// How one attempt of a transaction ended, finer than the failure texts: the texts lump
// several causes together (a truncated answer and no answer read the same).
enum class AttemptOutcome : quint8 {
    Good,
    SendFailed,   // the request did not leave the port
    Timeout,      // nothing complete arrived in time
    BadCrc,       // a frame of the expected shape with a damaged CRC
    WrongAddress, // a whole frame from another slave
    Exception,    // the slave refused the request
    ByteCount,    // a whole frame, but another byte count or echo: another request's data
    Truncated,    // fewer bytes than the frame announces
    Noise,        // bytes that make no frame
};
constexpr int kAttemptOutcomes = int(AttemptOutcome::Noise) + 1;

// The outcome of an attempt whose answer arrived (Read completed), judged on its bytes; the
// second form takes the judgement already made.
AttemptOutcome OutcomeOfAnswer(const QByteArray &request, const QByteArray &answer,
                               quint8 *exceptionCode = nullptr);
AttemptOutcome OutcomeOfVerdict(ModbusFrame::Verdict verdict, const QByteArray &request,
                                const QByteArray &answer);

// Attempts of a stretch of time by how they ended.
struct AttemptCounts {
    std::array<quint64, kAttemptOutcomes> byOutcome{};
    quint64 gatewayExceptions = 0; // exceptions 10 and 11: the line behind a gateway failed
    quint64 retries = 0;
    quint64 linkLosses = 0;

    quint64 of(AttemptOutcome o) const { return byOutcome[size_t(o)]; }
    // Every attempt, sent or not.
    quint64 attempts() const;
    // Attempts that failed on the line. An exception answer came through the line whole:
    // the controller refused the request, which says nothing of the cable (save the
    // gateway's own codes).
    quint64 lineFaults() const;
    void add(const AttemptCounts &other);
};

// What a field engineer reads off the failure rate of the line.
enum class LineVerdict { NoData, Good, Marginal, Bad };
// Line faults below 1 % of the attempts is a good line, below 5 % a marginal one, from 5 %
// on a bad one: a sound RS-485 line loses next to nothing, a few in a hundred means bad
// termination, a stub or interference, and beyond that the poll cycle visibly suffers.
constexpr int kGoodLineBelowPercent = 1;
constexpr int kBadLineFromPercent = 5;
LineVerdict VerdictOfLine(quint64 lineFaults, quint64 attempts);

// The attempts of the last 60 s, in one-second buckets: the window covers 59 to 60 s.
class RecentAttempts {
public:
    static constexpr int kSeconds = 60;
    // nowMs on a monotonic clock.
    AttemptCounts &at(qint64 nowMs);
    AttemptCounts sum(qint64 nowMs) const;

private:
    struct Bucket {
        qint64 second = -1;
        AttemptCounts counts;
    };
    std::array<Bucket, kSeconds> m_buckets{};
};

// Counters of the link since the program connected or since the last reset. Counted by the
// master per attempt and by the poll cycle per cycle; plain numbers, no widget.
struct LinkStatistics {
    quint64 requests = 0; // requests that left the port
    quint64 goodAnswers = 0;
    quint64 timeouts = 0;
    quint64 crcErrors = 0;
    quint64 wrongAddresses = 0;
    std::map<int, quint64> exceptions; // by exception code
    quint64 byteCountErrors = 0;
    quint64 truncated = 0;
    quint64 noise = 0;
    quint64 sendFailures = 0;
    quint64 retries = 0;    // attempts after the first of a transaction
    quint64 linkLosses = 0; // transactions that failed every attempt and dropped the link

    quint64 cycles = 0;
    qint64 lastCycleMs = 0;
    qint64 worstCycleMs = 0;
    qint64 totalCycleMs = 0;
    double lastWireShare = 0; // wire time of the last cycle over its duration
    double totalWireMs = 0;   // of the counted cycles
    double cycleWireMs = 0;   // of the cycle under way
    qint64 sinceMs = 0;       // ms since the epoch of the start or the reset

    RecentAttempts recent;
    // The clock of the recent window, monotonic ms; tests turn it by hand.
    std::function<qint64()> clock = MonotonicMs;
    static qint64 MonotonicMs();

    // Clears the counters; the clock stays.
    void Reset();
    // One attempt: the request (requestBytes; 0 when it never left) and the bytes of the
    // answer taken, at the line's baud.
    void CountAttempt(AttemptOutcome outcome, int exceptionCode, int requestBytes, int answerBytes,
                      qint32 baud, bool retry);
    // Traffic before this (identification, link trouble) is not part of a cycle.
    void CycleStarted() { cycleWireMs = 0; }
    // A transaction failed every attempt and the link was reported down.
    void CountLinkLoss();
    void CycleEnded(qint64 ms);

    quint64 exceptionTotal() const;
    // The counters since the start or the reset, and those of the last 60 s.
    AttemptCounts totals() const;
    AttemptCounts lastMinute() const { return recent.sum(clock()); }
    double meanCycleMs() const { return cycles ? double(totalCycleMs) / double(cycles) : 0; }
    double meanWireShare() const {
        return totalCycleMs > 0 ? totalWireMs / double(totalCycleMs) : 0;
    }
    // Wire time in ms of an exchange: 11 bits a character; a request that was answered is
    // followed by the 3.5-character gap before the answer.
    static double WireMs(int requestBytes, int answerBytes, qint32 baud);
};
