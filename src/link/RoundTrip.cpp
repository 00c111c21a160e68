#include "RoundTrip.h"

#include <QtMath>

#include <algorithm>
#include <climits>

void RoundTrip::Sample(qint64 ms)
{
    const double r = double(std::clamp<qint64>(ms, 0, INT_MAX));
    if (!m_measured) {
        m_srtt = r;
        m_rttvar = r / 2;
        m_measured = true;
        return;
    }
    // alpha 1/8, beta 1/4; RTTVAR first, from the SRTT before this sample.
    m_rttvar = 0.75 * m_rttvar + 0.25 * qAbs(m_srtt - r);
    m_srtt = 0.875 * m_srtt + 0.125 * r;
}

int RoundTrip::AnswerWaitMs(int receiveMs) const
{
    const int floor = qMax(0, receiveMs);
    if (!m_measured)
        return floor;
    const double rto = m_srtt + qMax(double(TickMs), 4 * m_rttvar);
    const int ceiling = qMax(floor, MaxWaitMs);
    return std::clamp(int(qCeil(qMin(rto, double(INT_MAX)))), floor, ceiling);
}

int RoundTrip::LateBoundMs(int receiveMs) const
{
    return int(qMin<qint64>(2 * qint64(AnswerWaitMs(receiveMs)), INT_MAX));
}
