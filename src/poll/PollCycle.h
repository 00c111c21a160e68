#pragma once
#include "CycleHook.h"
#include "ModbusMaster.h"
#include "WriteReport.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

class MainState;

// One poll-cycle step and the reads it makes, always on the GUI thread. It owns the
// records of every read and write.
// The grid's texts of the sensor status codes in the language in use, looked up once.
class SensorStatusTexts {
public:
    explicit SensorStatusTexts(const MainState &s);
    QString operator()(quint16 code) const;

private:
    QString m_texts[7];
};

class PollCycle {
public:
    explicit PollCycle(MainState &state);

    // Raised by the step: normal priority while online, idle otherwise.
    std::function<void(bool normal)> setPriority;
    // The reports below take listeners besides the function their owner sets (CycleHook).
    // Asked in each step after the relay state was read: true while a trend row waits for
    // readings of its own (or the history wants its live data, every [history] live
    // seconds). Where the page shown does not poll the sensor data, the live data is then
    // read (into the records only; the grids stay as they were).
    CycleWant liveDataWanted;
    // Raised after the relay state and the live sensor data were read in this step: the
    // moment a trend row is written from the records. On a page that does not poll the
    // sensor data only when liveDataWanted asked for it, so a row never holds old words.
    CycleHook<> liveDataRead;
    // Raised instead when the live data read for a wanted row failed: that row has no
    // values. Not raised when the transaction was called off (the window closing).
    CycleHook<> liveDataFailed;
    // Raised after readAllTagsRequested was served (whether or not every tag answered).
    CycleHook<> allTagsRead;
    // Called after every successful read of the sensor data (status, temperature, time),
    // with the new words in statusRecord and temperatureRecord: the live chart's feed. On
    // the other pages that is the live data read between the page's own reads.
    CycleHook<> sensorDataRead;
    // The relay state word was read (MainState::relayStateWord), every step that got it.
    CycleHook<> relayStateRead;
    // A step identified the controller and brought the link up (device code and firmware
    // word; MainState holds the version texts).
    CycleHook<quint16, quint16> controllerIdentified;
    // Each write-back operation's registers and their fate (not for a dry run).
    CycleHook<const WriteReport &> writeReported;
    // The end of every step, whatever ended it: what the step read is complete.
    CycleHook<> stepEnded;

    void PollCycleStep();

    bool IdentifyController();
    bool ReadRelayStatus();
    bool ReadSensorData();
    // Statuses, temperatures and seconds into their records, the grids left alone: the
    // live data of a trend row while another page is shown.
    bool ReadLiveData();
    bool ReadConnectSettings();
    bool ReadNextSensorSettings();
    bool ReadRelaySettings();
    // Every sensor's tag block into sensorTagRecords. A firmware without tags has none to
    // read: true at once, nothing sent.
    bool ReadAllSensorTags();
    // The pending write requests, sensors, relays, connection in that order; a failed one
    // ends the step and leaves the later ones for a later step.
    void ServeWriteRequests();

    void SizeRecordArrays();
    void ReleaseRecordArrays();

    bool configurationFailed = false;
    bool connectSettingsReadOk = false;
    quint32 cycleStartTick = 0;
    quint32 cycleEndTick = 0;

    ModbusReadRecord identificationRecord;
    ModbusReadRecord relayStateRecord;
    ModbusReadRecord statusRecord;
    ModbusReadRecord temperatureRecord;
    ModbusReadRecord timeElapsedRecord;
    ModbusReadRecord connectSettingsRecord;
    std::vector<ModbusReadRecord> sensorSettingsRecords;
    std::vector<ModbusReadRecord> sensorTagRecords;
    std::vector<ModbusReadRecord> relaySettingsRecords;
    ModbusWriteRecord sensorWriteRecord;
    ModbusWriteRecord tagWriteRecord;
    ModbusWriteRecord relayWriteRecord;
    ModbusWriteRecord connectWriteRecord;

private:
    void runStep();
    void priority(bool normal)
    {
        if (setPriority)
            setPriority(normal);
    }
    void fillColumn(int col, const QString &text);
    void dropPendingWrites();
    bool readTag(int i);

    MainState &m_state;
    // The sensor-data grid's status texts and row label, looked up again only when the
    // settings (and with them the language) changed.
    struct GridTexts {
        quint64 revision;
        SensorStatusTexts status;
        QString label;
    };
    std::optional<GridTexts> m_gridTexts;
    const GridTexts &gridTexts();
    // The controller whose configuration failed: another one clears the latch.
    quint16 m_failedDeviceCode = 0;
    quint16 m_failedFirmware = 0;
};
