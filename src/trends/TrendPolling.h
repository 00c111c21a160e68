#pragma once
#include "TrendRecorder.h"

#include <functional>

class MainState;
class PollCycle;

// What a row is made of: the statuses, temperatures and tags the poll cycle read last.
TrendReadings TrendReadingsOf(const PollCycle &cycle, const MainState &state);

// The recorder's side of the program's state: the link flag, the request for all tags,
// Panel10 and status-bar panel 1 through the view, start.ini. The hint of GroupBox2 goes
// to the function given.
class StateTrendHost : public TrendHost {
public:
    StateTrendHost(MainState &state, std::function<void(const QString &)> setHint);

    bool LinkUp() const override;
    void RequestAllTags() override;
    void ShowPanel10(const QString &caption) override;
    void HidePanel10() override;
    void ShowStatus1(const QString &text) override;
    void SetTrendHint(const QString &text) override;
    bool SaveSettings() override;

private:
    MainState &m_state;
    std::function<void(const QString &)> m_setHint;
};

// Hands the poll cycle's reports to the recorder: whether a row waits for live data, the
// row after a read of it (empty cells after a failed one), and the tags asked for at
// Start. Both live as long as the cycle runs steps.
void AttachTrendRecorder(PollCycle &cycle, const MainState &state, TrendRecorder &recorder);
