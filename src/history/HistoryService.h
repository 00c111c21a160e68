#pragma once
#include "HistoryTypes.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class HistoryStore;
class MainState;
class MemIniFile;
class PollCycle;

// start.ini [history] alarms: the events that raise alarms, a list of words and numbers:
// a sensor status code (1, 2, 10, 20, 30, 40, 0 ...: the sensor changed to it), "unknown"
// (a code outside the table), "link" (the link lost longer than [history] linkalarm
// seconds, 30; not when the user stopped it), "relay" (a relay switched on). Default
// "1,2,10,20,link".
struct HistoryAlarmRules {
    std::vector<int> statusCodes{1, 2, 10, 20};
    bool unknownStatus = false;
    bool linkLost = true;
    bool relayOn = false;
    int linkAlarmSeconds = 30;
    bool IsAlarm(const HistoryEvent &event) const;
};
HistoryAlarmRules HistoryAlarmRulesFrom(const MemIniFile &settings);

// The history of one engine: turns what its poll cycle reads, the link's ups and downs and
// the write-backs into readings, events and audit rows for the store, one batch per cycle,
// and raises the alarms the user marked. The store may be shared by several engines.
class HistoryService : public QObject {
    Q_OBJECT
public:
    enum class ProgramEvents { Told, ToldByOwner };
    HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle,
                   QObject *parent = nullptr);
    // With the clock of the rows and events and of the 60-s, live and link-alarm intervals
    // (UTC ms): tests give their own.
    HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle,
                   std::function<qint64()> nowMs, QObject *parent = nullptr,
                   ProgramEvents program = ProgramEvents::Told);
    // Program started and stopped are the program's, not an engine's: an owner with several
    // engines (a plant), whose engines' services come and go with the windows opened on
    // them, tells them itself, once (TellProgram).
    HistoryService(HistoryStore &store, MainState &state, PollCycle &cycle, ProgramEvents program,
                   QObject *parent = nullptr);
    ~HistoryService() override; // the program-stopped event, unless ToldByOwner
    static void TellProgram(HistoryStore &store, EventKind kind); // started or stopped

    HistoryStore &store() { return m_store; }
    // The store's id of the controller identified last (0 before the first).
    int controllerId() const;
    int unacknowledgedAlarms() const; // of every controller in the store
    int controllerAlarms() const;     // of the controller identified last only
    // The newest alarm still waiting, as one line for the status bar; empty when none.
    QString latestAlarmText() const;

signals:
    // A new alarm (desktop notification, the events button's count).
    void alarmRaised(const HistoryEvent &event, const QString &text);
    void alarmsChanged(int unacknowledged);
    // The link came up or went down (text: the failure), for the unattended log.
    void linkChanged(bool up, const QString &text);
    // Every event as it goes to the store (alarms included), with its text: the MQTT feed.
    void eventSubmitted(const HistoryEvent &event, const QString &text);

private:
    struct Impl;
    HistoryStore &m_store;
    std::unique_ptr<Impl> d;
};

// An event as one line in the program's language, e.g. "Датчик 7: НЕТ ПИТАНИЯ (было В ЭФИРЕ)".
QString HistoryEventText(const HistoryEvent &event, const MemIniFile &settings);
// The name of an event kind for filters and exports.
QString HistoryEventKindText(EventKind kind, const MemIniFile &settings);
// The name scripts and subscribers test an event's kind by ("sensor-status", "link-lost",
// ...); never renamed.
const char *HistoryEventKindKey(EventKind kind);
