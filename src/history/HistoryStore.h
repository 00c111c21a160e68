#pragma once
#include "HistoryTypes.h"

#include <QObject>
#include <QString>
#include <memory>

class MemIniFile;
class QIODevice;

// start.ini [history]: days = age limit (400), megabytes = size limit (1024), live = seconds
// between live reads on the settings pages (10), alarms = the kinds that raise alarms,
// linkalarm = seconds the link must stay lost before that is an alarm (30).
struct HistoryLimits {
    int retentionDays = 400;
    qint64 maxBytes = qint64(1024) * 1024 * 1024;
    int liveSeconds = 10;
};
HistoryLimits HistoryLimitsFrom(const MemIniFile &settings);

// The store: history.sqlite in a working folder (WAL, one writer). Batches go to a writer
// thread in the order given; the poll cycle never waits on the disk. Queries run on the
// calling thread over a connection of their own and see every committed batch.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kFileName = "history.sqlite";

    explicit HistoryStore(const QString &folder, HistoryLimits limits = {},
                          QObject *parent = nullptr);
    ~HistoryStore() override; // writes what is queued, then closes

    QString path() const;

    // Opens or creates the file. A damaged or foreign file is renamed to
    // history.sqlite.damaged-<time> (never deleted) and a new one started. False when the
    // folder takes no store at all (problem() says why); batches are then kept in memory
    // up to a bound and written once it can.
    bool Open();

    // Queues one batch; returns at once.
    void Submit(HistoryBatch batch);
    // Waits until every batch submitted so far is written or has failed (shutdown, tests,
    // an export that must see the last cycle).
    void Flush();

    // Empty while writing works; otherwise what keeps it from writing (disk full,
    // read-only folder), in the program's language.
    QString problem() const;

    // Queries.
    std::vector<HistoryControllerRow> Controllers() const;
    std::vector<SensorSeries> SensorReadings(int controller, qint64 fromMs, qint64 toMs) const;
    std::vector<RelaySeries> RelayReadings(int controller, qint64 fromMs, qint64 toMs) const;
    std::vector<HistoryEvent> Events(const EventFilter &filter) const;
    std::vector<WriteAudit> Writes(qint64 fromMs, qint64 toMs, int controller = 0) const;
    WriteAudit Write(qint64 writeId) const;
    int UnacknowledgedAlarms() const;
    // The oldest and newest reading time kept (0, 0 when there is none).
    std::pair<qint64, qint64> ReadingSpan(int controller = 0) const;

    // Acknowledges one alarm (eventId) or every waiting one (0); each acknowledgement is an
    // AlarmAcknowledged event. Goes through the writer like a batch.
    void Acknowledge(qint64 eventId, qint64 nowMs);

    // Age and size limits; runs hourly on the writer thread by itself, callable for tests.
    void RunRetention(qint64 nowMs);

signals:
    // Writing stopped working (text) or works again (empty); raised once per change.
    void problemChanged(const QString &text);
    // A file that could not be used was set aside under this name.
    void fileSetAside(const QString &path);
    // Committed: new events (an alarm raised) or an acknowledgement.
    void eventsAdded();
    void alarmsChanged(int unacknowledged);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Readings of one controller over a range as files the user opens elsewhere: CSV (UTF-8
// with BOM, ISO 8601 local times with offset, one column per sensor) and the trend file
// format the recorder writes. False with the reason when the file cannot be written.
bool ExportReadingsCsv(const HistoryStore &store, int controller, qint64 fromMs, qint64 toMs,
                       const QString &path, QString *error = nullptr);
bool ExportReadingsTrend(const HistoryStore &store, int controller, qint64 fromMs,
                         qint64 toMs, const MemIniFile &settings, const QString &path,
                         QString *error = nullptr);
