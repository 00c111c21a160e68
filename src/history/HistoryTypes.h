#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

// What the history keeps. Times are UTC milliseconds since the epoch throughout.

// The controller a row came from; several controllers may share one store.
struct HistoryController {
    quint16 deviceCode = 0;
    int address = 0;  // Modbus address
    QString port;     // as the program names it: "/dev/ttyUSB0", "COM3", "host:502"
    QString firmware; // "major.minor"
    bool operator==(const HistoryController &) const = default;
};

// A controller as the store numbers it (ids start at 1).
struct HistoryControllerRow {
    int id = 0;
    HistoryController controller;
};

// One sensor as a poll cycle read it: the words as they came off the wire.
struct SensorReading {
    int sensor = 0; // 1-based
    quint16 status = 0;
    quint16 temperature = 0;
    quint16 seconds = 0;
};

struct RelayReading {
    int relay = 0; // 1-based
    bool on = false;
};

enum class EventKind : int {
    SensorStatus = 1,      // subject = sensor, code = new status, previous = old (-1: first seen)
    RelaySwitched = 2,     // subject = relay, code = 1 on / 0 off
    LinkLost = 3,          // text = the failure text
    LinkBack = 4,
    LinkDownLong = 5,      // still lost after the alarm delay (30 s by default)
    Identified = 6,        // text = device and firmware
    ProgramStarted = 7,
    ProgramStopped = 8,
    WriteOperation = 9,    // subject = write id (its registers in the audit), code = 1 ok / 0 failed
    AlarmAcknowledged = 10 // subject = event id acknowledged, 0 = all of them
};

struct HistoryEvent {
    qint64 id = 0; // given by the store
    qint64 timeMs = 0;
    int controller = 0; // store id; 0 = the program itself (started, stopped)
    EventKind kind = EventKind::ProgramStarted;
    int subject = 0;
    int code = 0;
    int previous = -1;
    QString text;
    bool alarm = false;        // a kind the user marked as an alarm
    qint64 acknowledgedMs = 0; // 0 while an alarm waits for its acknowledgement
};

// The audit trail: one register of a write operation.
enum class WriteResult : int { Confirmed = 0, Failed = 1, NotSent = 2 };

struct AuditRegister {
    int reg = 0;
    int before = -1; // the controller copy's word, -1 where none was read
    int after = 0;
    WriteResult result = WriteResult::NotSent;
};

struct WriteAudit {
    qint64 id = 0; // given by the store
    qint64 timeMs = 0;
    int controller = 0;   // store id (filled by the store on the way in)
    QString operation;    // "sensors", "relays", "connection", "profile"
    bool ok = false;
    std::vector<AuditRegister> registers;
};

// One poll cycle's worth, written in one transaction. Readings carry only what is kept
// (a change, or the minute since a sensor's last kept row).
struct HistoryBatch {
    HistoryController controller; // empty port: program events only
    qint64 timeMs = 0;
    std::vector<SensorReading> sensors;
    std::vector<RelayReading> relays;
    std::vector<HistoryEvent> events;
    std::vector<WriteAudit> writes; // each also gets its WriteOperation event
};

// A sensor's kept readings over a range, oldest first; the row before the range start is
// included so a flat line starts at the left edge.
struct SensorSeries {
    int sensor = 0;
    std::vector<qint64> timesMs;
    std::vector<quint16> status;
    std::vector<quint16> temperature;
    std::vector<quint16> seconds;
};

struct RelaySeries {
    int relay = 0;
    std::vector<qint64> timesMs;
    std::vector<quint8> on;
};

struct EventFilter {
    qint64 fromMs = 0;
    qint64 toMs = 0;               // 0 = no end
    std::vector<EventKind> kinds;  // empty = every kind
    int subject = 0;               // sensor or relay number; 0 = any
    int controller = 0;            // 0 = any
    bool alarmsOnly = false;
    bool unacknowledgedOnly = false;
    int limit = 0;                 // 0 = all; newest first
};
