#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "SettingsMessage.h"
#include "WriteReport.h"

class MainState;
class PollCycle;
struct ModbusReadRecord;
struct ModbusWriteRecord;
class TextGrid;
struct TextKey;

// A cell text as a register word: a plain signed decimal (blanks around it allowed) that
// fits 16 bits signed or unsigned, -32768 .. 65535, sent as its low 16 bits (-1 -> 0xFFFF).
// Anything else ("---", "", "12a", 70000) is no number and is never sent.
std::optional<quint16> RegisterWordOfCell(const QString &text);

// The sensor ID of a user cell as the two words of a settings block (ID >> 8, ID & 0xFF);
// none when the text is no ID or the ID does not fit the two words (0 .. 0xFFFFFF).
std::optional<std::pair<quint16, quint16>> SensorIdWords(const QString &text);

// What the user prepared on the settings pages goes to the controller. Each operation runs
// inside a poll step, shows its progress and result on Panel10 and returns whether every
// transaction it needed succeeded; the first failure ends it and nothing after it is sent.
// Its pauses are real time the user sees; the window keeps painting and answering through
// them while the settings pages' user sides cannot be edited.
class WriteBack {
public:
    WriteBack(MainState &state, PollCycle &cycle);

    // Changed rows of the user sensor table, one settings block each, and changed tags
    // (firmware 1.2 on) as blocks of their own; then the controller table is read again
    // from sensor 1 if its page is shown.
    bool WriteSensorSettings();
    // One single-register write per changed cell of the user relay table, row by row.
    bool WriteRelaySettings();
    // The whole connection block from MainState::connectUser; the program's own line
    // settings follow it and the verdict is the read-back at the new settings.
    bool WriteConnectSettings();
    // Panel10 shows success or failure for a second, then hides.
    void ShowWriteResult(bool ok);

    // Called with every write request just before it goes out (a long write's progress).
    std::function<void(const QByteArray &request)> requestMade;
    // Nothing goes to the controller and nothing waits: every request only reaches
    // requestMade and counts as confirmed, and the program's line settings stay. What a
    // write would send, shown before it is sent.
    bool dryRun = false;
    // The operations are a profile loaded into the controller (their audit says so).
    bool fromProfile = false;

private:
    // One request of an operation: a block (function 16) or a single register (6), with
    // the controller copy's words it replaces (-1 where the copy was not read).
    struct Request {
        ModbusWriteRecord *record = nullptr;
        quint16 start = 0;
        QList<quint16> words;
        bool single = false;
        std::vector<int> before;
    };
    // Sends the requests in order; the first failure ends it. Each register's fate goes to
    // the report, those never reached as not sent.
    bool sendAll(const std::vector<Request> &requests);
    bool send(const Request &r);
    // The report of the running operation goes to the cycle's listeners (not for dryRun).
    void report(WriteReport::Operation operation, bool ok);
    static std::vector<int> copyWords(const ModbusReadRecord *record, bool read, int count);

    bool sendSensorRows(const TextGrid &settings, const TextGrid &tags,
                        const std::vector<bool> &copyRead);
    bool sendRelayCells(const TextGrid &settings, bool copyRead);
    // Messages of the checks made as a write goes out.
    ShowMessage showError() const;
    bool sendConnectBlock(const QList<quint16> &words);
    bool writeMany(ModbusWriteRecord &record, quint16 start, const QList<quint16> &words);
    bool writeOne(ModbusWriteRecord &record, quint16 reg, quint16 value);
    bool sensorWords(const TextGrid &user, int row, QList<quint16> &words) const;
    bool connectWords(QList<quint16> &words) const;
    void start(const TextKey &text);
    bool finish(bool ok);
    // Waits ms while the window goes on; false when polling stops meanwhile (the window
    // closes), which ends the wait at once.
    bool pause(int ms);

    MainState &m_state;
    PollCycle &m_cycle;
    std::vector<WriteReport::Register> m_registers; // of the running operation
};
