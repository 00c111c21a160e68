#pragma once
#include <QtGlobal>

// How long answers take on a network link, estimated the way TCP estimates its
// retransmission time-out (RFC 6298): a smoothed round trip (SRTT) and its mean deviation
// (RTTVAR), updated by every answer; the wait for an answer is SRTT + 4 × RTTVAR. A serial
// device server behind a busy network or a cellular router answers hundreds of
// milliseconds late, and by how much changes with the network: a fixed wait there either
// gives up on answers that are coming or waits long for a controller that is gone.
//
// The configured receive time-out stays the floor: the waits only ever grow beyond it.
class RoundTrip {
public:
    // A round trip of ms, from a request leaving to its whole answer arriving.
    void Sample(qint64 ms);
    // Nothing measured yet (a new connection to another place).
    void Reset() { *this = RoundTrip(); }
    bool Measured() const { return m_measured; }
    double Srtt() const { return m_srtt; }
    double Rttvar() const { return m_rttvar; }

    // How long an attempt waits for its answer: SRTT + 4 × RTTVAR (at least a clock tick
    // more than SRTT), within [receiveMs, max(receiveMs, MaxWaitMs)]; receiveMs until
    // something has been measured.
    int AnswerWaitMs(int receiveMs) const;
    // How long after a request its answer can still come: twice the wait. An answer later
    // than that is taken as lost.
    int LateBoundMs(int receiveMs) const;

    static constexpr int MaxWaitMs = 10000; // a wait never grows beyond this by itself
    static constexpr int TickMs = 10;       // the granularity G of the timers

private:
    bool m_measured = false;
    double m_srtt = 0;
    double m_rttvar = 0;
};
