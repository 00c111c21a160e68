#include "TrendPolling.h"

#include "MainState.h"
#include "MainView.h"
#include "PollCycle.h"
#include "SensorTags.h"

TrendReadings TrendReadingsOf(const PollCycle &cycle, const MainState &state)
{
    const DeviceRegisterMap &m = state.registerMap;
    // The records hold a fixed number of words; the map never asks for more sensors.
    const size_t n = std::min(size_t(m.MAX_SENSORS), cycle.statusRecord.values.size());
    const int tagSize = m.QOR_SENSOR_TAG_SIZE;
    return {std::span<const quint16>(cycle.statusRecord.values.data(), n),
            std::span<const quint16>(cycle.temperatureRecord.values.data(), n),
            [&cycle, tagSize](int i) {
                return i >= 0 && i < int(cycle.sensorTagRecords.size())
                           ? SensorTagText(cycle.sensorTagRecords[size_t(i)].values, tagSize)
                           : QString();
            }};
}

StateTrendHost::StateTrendHost(MainState &state, std::function<void(const QString &)> setHint)
    : m_state(state), m_setHint(std::move(setHint))
{
}

bool StateTrendHost::LinkUp() const
{
    // A language switch identifies the controller again; the recording goes on meanwhile.
    return m_state.linkUp || m_state.identifyingAgain;
}

void StateTrendHost::RequestAllTags()
{
    m_state.readAllTagsRequested = true;
}

void StateTrendHost::ShowPanel10(const QString &caption)
{
    m_state.view().ShowProgress(caption);
}

void StateTrendHost::HidePanel10()
{
    m_state.view().HideProgress();
}

void StateTrendHost::ShowStatus1(const QString &text)
{
    m_state.view().ShowStatus(1, text);
}

void StateTrendHost::SetTrendHint(const QString &text)
{
    if (m_setHint)
        m_setHint(text);
}

bool StateTrendHost::SaveSettings()
{
    return m_state.SaveSettings();
}

void AttachTrendRecorder(PollCycle &cycle, const MainState &state, TrendRecorder &recorder)
{
    cycle.liveDataRead = [&cycle, &state, &recorder] {
        recorder.LiveDataRead(TrendReadingsOf(cycle, state));
    };
    cycle.liveDataWanted = [&recorder] { return recorder.LiveDataWanted(); };
    cycle.liveDataFailed = [&recorder] { recorder.LiveDataFailed(); };
    cycle.allTagsRead = [&recorder] { recorder.AllTagsRead(); };
}
