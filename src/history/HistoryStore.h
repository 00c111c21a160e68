#pragma once
#include "HistoryTypes.h"
#include "LookupText.h"

#include <QObject>
#include <QString>
#include <memory>

class MemIniFile;
class QIODevice;

namespace Msg {
// Status bar while the history cannot be written; polling goes on.
inline constexpr TextKey n530{"n530", u"История не записывается: диск заполнен. Записи ждут в памяти."};
// Followed by the folder.
inline constexpr TextKey n531{"n531", u"История не записывается: нет права записи в папку "};
// Followed by the system's reason.
inline constexpr TextKey n532{"n532", u"История не записывается: "};
// A history file that could not be used; followed by the name it was set aside under.
inline constexpr TextKey n533{"n533", u"Файл истории повреждён или не наш; начат новый, старый сохранён как "};
// Readings exported to CSV: the list separator (";" where the decimal sign is a comma).
inline constexpr TextKey n534{"n534", u";"};
inline constexpr TextKey n535{"n535", u"Время"};
// After the sensor's name: its status column.
inline constexpr TextKey n536{"n536", u"состояние"};
// An export of a range without readings.
inline constexpr TextKey n537{"n537", u"За этот промежуток в истории нет показаний"};
} // namespace Msg

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
    // While nothing can be written, batches wait in memory; beyond this many readings the
    // oldest readings are dropped (about 3.6 MB, a good 100 hours of 36 sensors kept once a
    // minute). Events and the audit trail stay, up to kMaxWaitingEvents.
    static constexpr qint64 kMaxWaitingReadings = 300000;
    static constexpr qint64 kMaxWaitingEvents = 100000;

    explicit HistoryStore(const QString &folder, HistoryLimits limits = {},
                          QObject *parent = nullptr);
    // The texts of problem() in the program's language (Russian without). Read on the
    // thread that owns the store only.
    void setTexts(const MemIniFile *settings);
    ~HistoryStore() override; // writes what is queued, then closes

    QString path() const;

    // Opens or creates the file. A damaged or foreign file is renamed to
    // history.sqlite.damaged-<time> (never deleted) and a new one started. False when the
    // folder takes no store at all (problem() says why); batches are then kept in memory
    // up to a bound and written once it can. The whole file is read for damaged pages
    // right after Open returns, on the writer thread (a second or more for 1 GiB); a file
    // found damaged then is set aside the same way (fileSetAside).
    bool Open();
    // Opens the file only to query it, beside a writer that may be running: nothing is
    // created, written or set aside. False when there is no readable store (problem()).
    // Submit and the other writes must not be used after it.
    bool OpenToRead();

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
    // The store's id of a controller, 0 while none of its batches is written.
    int ControllerId(const HistoryController &controller) const;
    // The controller to show: the one given, or before any identification (0) the one
    // the store took in last; 0 when it holds none.
    int ControllerOrNewest(int controller) const;
    std::vector<SensorSeries> SensorReadings(int controller, qint64 fromMs, qint64 toMs) const;
    std::vector<RelaySeries> RelayReadings(int controller, qint64 fromMs, qint64 toMs) const;
    std::vector<HistoryEvent> Events(const EventFilter &filter) const;
    std::vector<WriteAudit> Writes(qint64 fromMs, qint64 toMs, int controller = 0) const;
    WriteAudit Write(qint64 writeId) const;
    int UnacknowledgedAlarms(int controller = 0) const; // 0: of every controller
    // The oldest and newest reading time kept (0, 0 when there is none).
    std::pair<qint64, qint64> ReadingSpan(int controller = 0) const;

    // Acknowledges one alarm (eventId) or every waiting one (0); each acknowledgement is an
    // AlarmAcknowledged event. Goes through the writer like a batch.
    void Acknowledge(qint64 eventId, qint64 nowMs);

    // Age and size limits; runs hourly on the writer thread by itself, callable for tests.
    void RunRetention(qint64 nowMs);

    // What the writer did, for benchmarks and tests.
    struct Stats {
        qint64 batches = 0;       // written
        qint64 transactions = 0;  // committed
        qint64 writeNs = 0;       // writer's time in committed transactions
        qint64 longestWriteNs = 0;
        qint64 droppedReadings = 0; // dropped while the disk took nothing
        // The last retention pass.
        int retentionChunks = 0;
        qint64 retentionLongestChunkNs = 0;
        qint64 retentionNs = 0;
        qint64 retentionBlocks = 0; // reading blocks deleted
        qint64 retentionEvents = 0;
        qint64 vacuumedPages = 0;
    };
    Stats stats() const;

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
// CSV columns: the time, the temperature of each sensor (empty where it read none), then
// the status text of each sensor; a row per cycle that kept a reading, a sensor's cells
// repeating its last reading while that is under 90 s old. Texts from settings when given.
bool ExportReadingsCsv(const HistoryStore &store, int controller, qint64 fromMs, qint64 toMs,
                       const QString &path, QString *error = nullptr,
                       const MemIniFile *settings = nullptr);
bool ExportReadingsTrend(const HistoryStore &store, int controller, qint64 fromMs,
                         qint64 toMs, const MemIniFile &settings, const QString &path,
                         QString *error = nullptr);
