#include "HistoryStore.h"

#include "HistorySchema.h"
#include "MemIniFile.h"
#include "ReadingBlock.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QThread>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>

namespace {

// Runs a prepared statement: QSqlQuery's exec is SQLite's step, no event loop.
bool RunPrepared(QSqlQuery &q)
{
    return q.exec();
}

using Clock = std::chrono::steady_clock;

constexpr auto kRetryAfter = std::chrono::seconds(5);
constexpr auto kFirstRetention = std::chrono::minutes(1);
constexpr auto kRetentionPeriod = std::chrono::hours(1);
// A writer that fell behind catches up in transactions of up to this many cycles.
constexpr int kMaxBatchesPerTransaction = 64;
constexpr qint64 kMaxQueuedReadings = HistoryStore::kMaxWaitingReadings;
constexpr qint64 kMaxQueuedEvents = HistoryStore::kMaxWaitingEvents;
// Retention deletes in chunks, each its own short transaction, so batches get through
// in between.
constexpr int kRetentionBlocksPerChunk = 100;
constexpr int kRetentionRowsPerChunk = 2000;
constexpr int kVacuumPagesPerChunk = 64;
// The size limit is enforced down to this share of it, so one pass lasts a while.
constexpr double kSizeTarget = 0.9;
// Free pages are reused by new rows; they are given back to the file system only when
// they are many: a tenth of the size limit (at least 1 MiB) and a quarter of the file,
// as after the limit was lowered or a long pause aged out at once.
constexpr qint64 kVacuumMinFreeBytes = qint64(1024) * 1024;

struct Job {
    enum Type { Batch, Ack } type = Batch;
    HistoryBatch batch;
    qint64 ackId = 0;
    qint64 nowMs = 0;
    qint64 readings() const { return qint64(batch.sensors.size() + batch.relays.size()); }
    qint64 events() const { return qint64(batch.events.size() + batch.writes.size()); }
};

using ControllerKey = std::tuple<quint16, int, QString, QString>;

ControllerKey keyOf(const HistoryController &c)
{
    return {c.deviceCode, c.address, c.port, c.firmware};
}

qint64 nowNs(const QElapsedTimer &t)
{
    return t.nsecsElapsed();
}

} // namespace

struct HistoryStore::Impl {
    HistoryStore *q = nullptr;
    QString folder;
    QString path;
    HistoryLimits limits;
    const MemIniFile *texts = nullptr;
    QString connectionPrefix;

    // Shared between the writer and the callers, under m.
    mutable std::mutex m;
    std::condition_variable wake; // the writer
    std::condition_variable done; // Open, Flush
    std::deque<Job> queue;
    qint64 queuedReadings = 0;
    qint64 queuedEvents = 0;
    size_t strippedFront = 0; // leading jobs whose readings were dropped already
    bool stop = false;
    bool started = false;
    bool opened = false; // the first open was tried
    bool writerGone = false;
    bool busy = false;
    int flushWaiting = 0;
    quint64 flushMark = 0; // attempts before the newest Flush began
    quint64 attemptNo = 0;
    quint64 lastFailedAttempt = 0;
    qint64 retentionRequestMs = 0; // 0: none asked
    bool retentionActive = false;
    // Flush waits for a pass asked for by RunRetention, never for the hourly one (on a big
    // file that takes seconds, in chunks between which batches are written).
    bool retentionAsked = false;
    bool passAsked = false;
    HistorySchema::Failure failure; // what keeps the writer from writing now
    Stats stats;
    std::unique_ptr<QThread> thread;

    // Query connections, one per thread.
    mutable std::mutex readersMutex;
    mutable std::map<QString, int> readerGeneration;
    std::atomic<int> generation{0};

    // Writer thread only.
    struct OpenBlock {
        qint64 rowId = 0;
        ReadingBlockWriter writer;
    };
    struct Prepared {
        std::optional<QSqlQuery> begin, commit, selController, insController, insBlock,
            updBlock, insEvent, insWrite, insAudit;
    };
    bool connected = false;
    QString writerName;
    Prepared prepared;
    std::map<ControllerKey, int> controllerIds;
    std::map<int, OpenBlock> blocks;
    int lastAlarmCount = -1;
    bool alarmsTouched = true; // the count is asked again only after an alarm or an acknowledgement
    HistorySchema::Fault reportedFault = HistorySchema::Fault::None;
    struct RetentionRun {
        qint64 cutoffMs = 0;
        int phase = 0;
        std::vector<int> controllers;
        size_t controllerIndex = 0;
        bool sizeStarted = false;
        bool vacuumStarted = false;
        QElapsedTimer total;
        Stats partial;
    } retention;

    // Writer.
    void run();
    bool connect(HistorySchema::Failure &f);
    void checkWholeFile();
    void disconnect();
    QSqlQuery &query(std::optional<QSqlQuery> &slot, const char *sql);
    bool exec(QSqlQuery &query, HistorySchema::Failure &f);
    bool execSql(const QString &sql, HistorySchema::Failure &f);
    bool writeJobs(std::vector<Job> &jobs, HistorySchema::Failure &f, bool &eventsAdded);
    bool writeBatch(HistoryBatch &b, HistorySchema::Failure &f, bool &eventsAdded);
    bool writeReadings(int controller, const HistoryBatch &b, HistorySchema::Failure &f);
    bool insertEvent(HistoryEvent &e, HistorySchema::Failure &f);
    bool acknowledge(qint64 eventId, qint64 nowMs, HistorySchema::Failure &f, bool &eventsAdded);
    int controllerId(const HistoryController &c, HistorySchema::Failure &f);
    int countAlarms();
    void afterCommit(bool eventsAdded);
    void reportFault(const HistorySchema::Failure &f);
    void startRetention(qint64 nowMs);
    bool retentionStep(); // false when the pass is over
    bool retentionChunk(const QString &sql, const QVariantList &values, qint64 &deleted,
                        HistorySchema::Failure &f, int times = 1);
    qint64 pragma(const char *name);
    void enforceBound();

    // Callers.
    QSqlDatabase reader() const;
    QString problemText() const;
    QString textOf(const HistorySchema::Failure &f) const;
};

// ---------------------------------------------------------------- callers

HistoryStore::HistoryStore(const QString &folder, HistoryLimits limits, QObject *parent)
    : QObject(parent), d(std::make_unique<Impl>())
{
    d->q = this;
    d->folder = folder;
    d->path = QDir(folder).filePath(QString::fromLatin1(kFileName));
    d->limits = limits;
    d->connectionPrefix = QStringLiteral("velmaris-history-%1").arg(quintptr(this), 0, 16);
    d->writerName = d->connectionPrefix + QStringLiteral("-writer");
}

HistoryStore::~HistoryStore()
{
    if (d->thread) {
        {
            std::lock_guard lock(d->m);
            d->stop = true;
        }
        d->wake.notify_all();
        d->thread->wait();
    }
    std::lock_guard lock(d->readersMutex);
    for (const auto &[name, generation] : d->readerGeneration)
        QSqlDatabase::removeDatabase(name);
}

void HistoryStore::setTexts(const MemIniFile *settings)
{
    d->texts = settings;
}

QString HistoryStore::path() const
{
    return d->path;
}

bool HistoryStore::Open()
{
    std::unique_lock lock(d->m);
    if (!d->started) {
        d->started = true;
        d->thread.reset(QThread::create([this] { d->run(); }));
        d->thread->setObjectName(QStringLiteral("history-writer"));
        d->thread->start();
    }
    d->done.wait(lock, [this] { return d->opened; });
    return d->failure.fault == HistorySchema::Fault::None;
}

bool HistoryStore::OpenToRead()
{
    HistorySchema::Failure f;
    const QSqlDatabase db = d->reader();
    if (!db.isValid() || !db.isOpen())
        f = {HistorySchema::Fault::Other, QDir::toNativeSeparators(d->path)};
    else
        f = HistorySchema::CheckReadable(db.connectionName(), d->folder);
    std::lock_guard lock(d->m);
    d->failure = f;
    d->opened = true;
    return f.fault == HistorySchema::Fault::None;
}

void HistoryStore::Submit(HistoryBatch batch)
{
    if (batch.sensors.empty() && batch.relays.empty() && batch.events.empty() &&
        batch.writes.empty())
        return; // a cycle that kept nothing costs no transaction
    {
        std::lock_guard lock(d->m);
        Job job;
        job.batch = std::move(batch);
        d->queuedReadings += job.readings();
        d->queuedEvents += job.events();
        d->queue.push_back(std::move(job));
        d->enforceBound();
    }
    d->wake.notify_one();
}

void HistoryStore::Acknowledge(qint64 eventId, qint64 nowMs)
{
    {
        std::lock_guard lock(d->m);
        Job job;
        job.type = Job::Ack;
        job.ackId = eventId;
        job.nowMs = nowMs;
        d->queue.push_back(std::move(job));
    }
    d->wake.notify_one();
}

void HistoryStore::RunRetention(qint64 nowMs)
{
    {
        std::lock_guard lock(d->m);
        d->retentionRequestMs = nowMs;
        d->retentionAsked = true;
    }
    d->wake.notify_one();
}

void HistoryStore::Flush()
{
    std::unique_lock lock(d->m);
    if (!d->started || d->writerGone)
        return;
    const quint64 mark = d->attemptNo;
    d->flushMark = std::max(d->flushMark, mark);
    ++d->flushWaiting;
    d->wake.notify_one();
    d->done.wait(lock, [&] {
        return d->writerGone || d->lastFailedAttempt > mark ||
               (d->queue.empty() && !d->busy && !d->retentionAsked &&
                !(d->retentionActive && d->passAsked));
    });
    --d->flushWaiting;
}

QString HistoryStore::problem() const
{
    return d->problemText();
}

HistoryStore::Stats HistoryStore::stats() const
{
    std::lock_guard lock(d->m);
    return d->stats;
}

QString HistoryStore::Impl::problemText() const
{
    HistorySchema::Failure f;
    {
        std::lock_guard lock(m);
        f = failure;
    }
    return textOf(f);
}

QString HistoryStore::Impl::textOf(const HistorySchema::Failure &f) const
{
    auto text = [this](const TextKey &key) {
        return texts ? LookupText(*texts, key) : QString::fromUtf16(key.russian);
    };
    switch (f.fault) {
    case HistorySchema::Fault::None:
        return {};
    case HistorySchema::Fault::Full:
        return text(Msg::n530);
    case HistorySchema::Fault::ReadOnly:
        return text(Msg::n531) + QDir::toNativeSeparators(folder);
    case HistorySchema::Fault::Other:
        break;
    }
    return text(Msg::n532) + f.detail;
}

// Drops readings, oldest first, while more wait than the bound; then events.
void HistoryStore::Impl::enforceBound()
{
    while (queuedReadings > kMaxQueuedReadings && strippedFront < queue.size()) {
        Job &job = queue[strippedFront];
        const qint64 n = job.readings();
        queuedReadings -= n;
        stats.droppedReadings += n;
        job.batch.sensors.clear();
        job.batch.relays.clear();
        if (job.type == Job::Batch && job.events() == 0)
            queue.erase(queue.begin() + qptrdiff(strippedFront));
        else
            ++strippedFront;
    }
    while (queuedEvents > kMaxQueuedEvents && !queue.empty()) {
        queuedEvents -= queue.front().events();
        queuedReadings -= queue.front().readings();
        queue.pop_front();
        if (strippedFront > 0)
            --strippedFront;
    }
}

QSqlDatabase HistoryStore::Impl::reader() const
{
    if (!QFileInfo::exists(path))
        return {}; // opening it would make an empty one
    const QString name = connectionPrefix +
                         QStringLiteral("-%1").arg(quintptr(QThread::currentThreadId()), 0, 16);
    std::lock_guard lock(readersMutex);
    const int now = generation.load();
    const auto known = readerGeneration.find(name);
    QSqlDatabase db;
    if (known != readerGeneration.end()) {
        db = QSqlDatabase::database(name, false);
        if (!db.isValid()) { // left by a thread that ended; its id came back
            db = {};
            QSqlDatabase::removeDatabase(name);
        } else if (known->second != now) {
            db.close(); // the file was set aside and a new one started
        }
    }
    if (!db.isValid()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    }
    readerGeneration[name] = now;
    if (!db.isOpen() && !db.open())
        return {};
    return db;
}

// ---------------------------------------------------------------- writer

void HistoryStore::Impl::run()
{
    using HistorySchema::Fault;
    HistorySchema::Failure f;
    connect(f);
    {
        std::lock_guard lock(m);
        failure = f;
        opened = true;
        busy = f.fault == Fault::None; // Flush waits for the check
    }
    done.notify_all();
    if (f.fault == Fault::None)
        checkWholeFile();
    {
        std::lock_guard lock(m);
        busy = false;
        f = failure;
    }
    done.notify_all();
    reportFault(f);
    if (f.fault == Fault::None)
        afterCommit(false);

    auto nextRetention = Clock::now() + kFirstRetention;
    auto retryAt = Clock::now();
    for (;;) {
        std::vector<Job> jobs;
        bool retentionWork = false;
        quint64 attempt = 0;
        {
            std::unique_lock lock(m);
            for (;;) {
                const bool troubled = failure.fault != Fault::None;
                const auto now = Clock::now();
                if (stop)
                    break;
                // A Flush gets one attempt of its own, not a loop of them.
                const bool flushTry = flushWaiting > 0 && lastFailedAttempt <= flushMark;
                if (!queue.empty() && (!troubled || now >= retryAt || flushTry))
                    break;
                if (now >= nextRetention) {
                    nextRetention = now + kRetentionPeriod;
                    if (!retentionRequestMs && !retentionActive)
                        retentionRequestMs = QDateTime::currentMSecsSinceEpoch();
                }
                if (retentionRequestMs || retentionActive) {
                    if (!troubled)
                        break;
                    if (flushWaiting > 0) { // nothing can be deleted now: give the pass up
                        retentionRequestMs = 0;
                        retentionActive = false;
                        retentionAsked = passAsked = false;
                        done.notify_all();
                    }
                }
                auto until = nextRetention;
                if (!queue.empty() && troubled)
                    until = std::min(until, retryAt);
                wake.wait_until(lock, until);
            }
            if (stop && queue.empty())
                break;
            if (!queue.empty()) {
                const size_t n = std::min(queue.size(), size_t(kMaxBatchesPerTransaction));
                for (size_t i = 0; i < n; ++i) {
                    queuedReadings -= queue.front().readings();
                    queuedEvents -= queue.front().events();
                    jobs.push_back(std::move(queue.front()));
                    queue.pop_front();
                }
                strippedFront = strippedFront > n ? strippedFront - n : 0;
                attempt = ++attemptNo;
            } else {
                retentionWork = true;
                if (retentionRequestMs && !retentionActive) {
                    retentionActive = true;
                    passAsked = retentionAsked;
                    retentionAsked = false;
                    startRetention(retentionRequestMs);
                    retentionRequestMs = 0;
                }
            }
            busy = true;
        }

        if (retentionWork) {
            const bool more = retentionStep();
            {
                std::lock_guard lock(m);
                busy = false;
                if (!more) {
                    retentionActive = false;
                    stats.retentionChunks = retention.partial.retentionChunks;
                    stats.retentionLongestChunkNs = retention.partial.retentionLongestChunkNs;
                    stats.retentionNs = retention.total.nsecsElapsed();
                    stats.retentionBlocks = retention.partial.retentionBlocks;
                    stats.retentionEvents = retention.partial.retentionEvents;
                    stats.vacuumedPages = retention.partial.vacuumedPages;
                }
            }
            done.notify_all();
            continue;
        }

        QElapsedTimer timer;
        timer.start();
        bool eventsAdded = false;
        HistorySchema::Failure result;
        const bool ok = writeJobs(jobs, result, eventsAdded);
        const qint64 ns = nowNs(timer);
        {
            std::lock_guard lock(m);
            busy = false;
            failure = result;
            if (ok) {
                stats.batches += qint64(jobs.size());
                ++stats.transactions;
                stats.writeNs += ns;
                stats.longestWriteNs = std::max(stats.longestWriteNs, ns);
            } else {
                lastFailedAttempt = attempt;
                retryAt = Clock::now() + kRetryAfter;
                // Back in front, in their order, to be written when the disk takes them.
                for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
                    queuedReadings += it->readings();
                    queuedEvents += it->events();
                    queue.push_front(std::move(*it));
                }
                strippedFront = 0;
                enforceBound();
            }
        }
        done.notify_all();
        reportFault(result);
        if (ok)
            afterCommit(eventsAdded);
        if (stop && !ok)
            break; // what could not be written now is lost with the program
    }
    disconnect();
    QSqlDatabase::removeDatabase(writerName);
    {
        std::lock_guard lock(m);
        writerGone = true;
    }
    done.notify_all();
}

bool HistoryStore::Impl::connect(HistorySchema::Failure &f)
{
    if (connected)
        return true;
    QString asidePath;
    f = HistorySchema::OpenFile(writerName, folder, path, &asidePath);
    if (!asidePath.isEmpty()) {
        ++generation;
        QMetaObject::invokeMethod(q, [q = q, asidePath] { emit q->fileSetAside(asidePath); },
                                  Qt::QueuedConnection);
    }
    if (f.fault != HistorySchema::Fault::None) {
        disconnect();
        return false;
    }
    connected = true;
    return true;
}

// Once a start, after Open has returned: on a big file this reads for a second or more,
// which the window does not wait for. A damaged file is set aside then; batches submitted
// meanwhile wait and go to the new one.
void HistoryStore::Impl::checkWholeFile()
{
    HistorySchema::Failure f;
    if (HistorySchema::QuickCheck(writerName, folder, f) != HistorySchema::Check::Damaged)
        return; // a file that cannot be read shows when it is written
    disconnect();
    QString asidePath;
    if (HistorySchema::SetAside(path, &asidePath, f)) {
        ++generation;
        QMetaObject::invokeMethod(q, [q = q, asidePath] { emit q->fileSetAside(asidePath); },
                                  Qt::QueuedConnection);
        connect(f);
    }
    std::lock_guard lock(m);
    failure = f;
}

void HistoryStore::Impl::disconnect()
{
    prepared = {};
    controllerIds.clear();
    connected = false;
    if (QSqlDatabase::contains(writerName))
        QSqlDatabase::database(writerName, false).close();
}

QSqlQuery &HistoryStore::Impl::query(std::optional<QSqlQuery> &slot, const char *sql)
{
    if (!slot) {
        slot.emplace(QSqlDatabase::database(writerName, false));
        slot->prepare(QString::fromLatin1(sql));
    }
    return *slot;
}

bool HistoryStore::Impl::exec(QSqlQuery &query, HistorySchema::Failure &f)
{
    if (RunPrepared(query))
        return true;
    f = HistorySchema::Classify(query.lastError(), folder);
    return false;
}

bool HistoryStore::Impl::execSql(const QString &sql, HistorySchema::Failure &f)
{
    QSqlQuery query(QSqlDatabase::database(writerName, false));
    if (query.exec(sql)) {
        while (query.next()) {
        }
        return true;
    }
    f = HistorySchema::Classify(query.lastError(), folder);
    return false;
}

bool HistoryStore::Impl::writeJobs(std::vector<Job> &jobs, HistorySchema::Failure &f,
                                   bool &eventsAdded)
{
    if (!connect(f))
        return false;
    const auto blocksBefore = blocks;
    bool ok = exec(query(prepared.begin, "BEGIN IMMEDIATE"), f);
    for (size_t i = 0; ok && i < jobs.size(); ++i) {
        Job &job = jobs[i];
        ok = job.type == Job::Batch ? writeBatch(job.batch, f, eventsAdded)
                                    : acknowledge(job.ackId, job.nowMs, f, eventsAdded);
    }
    if (ok && exec(query(prepared.commit, "COMMIT"), f))
        return true;
    HistorySchema::Failure ignored;
    execSql(QStringLiteral("ROLLBACK"), ignored);
    blocks = blocksBefore;
    alarmsTouched = false;
    eventsAdded = false;
    // A connection that failed may be one SQLite fell back to read-only: start afresh.
    disconnect();
    return false;
}

int HistoryStore::Impl::controllerId(const HistoryController &c, HistorySchema::Failure &f)
{
    const ControllerKey key = keyOf(c);
    if (const auto found = controllerIds.find(key); found != controllerIds.end())
        return found->second;
    QSqlQuery &sel = query(prepared.selController,
                           "SELECT id FROM controllers WHERE device_code=? AND address=? AND "
                           "port=? AND firmware=?");
    sel.bindValue(0, c.deviceCode);
    sel.bindValue(1, c.address);
    sel.bindValue(2, c.port);
    sel.bindValue(3, c.firmware);
    if (!exec(sel, f))
        return 0;
    int id = sel.next() ? sel.value(0).toInt() : 0;
    sel.finish();
    if (!id) {
        QSqlQuery &ins = query(prepared.insController,
                               "INSERT INTO controllers(device_code, address, port, firmware) "
                               "VALUES(?, ?, ?, ?)");
        ins.bindValue(0, c.deviceCode);
        ins.bindValue(1, c.address);
        ins.bindValue(2, c.port);
        ins.bindValue(3, c.firmware);
        if (!exec(ins, f))
            return 0;
        id = ins.lastInsertId().toInt();
    }
    controllerIds[key] = id; // dropped with the connection when a transaction fails
    return id;
}

bool HistoryStore::Impl::writeBatch(HistoryBatch &b, HistorySchema::Failure &f,
                                    bool &eventsAdded)
{
    int controller = 0;
    if (!b.controller.port.isEmpty()) {
        controller = controllerId(b.controller, f);
        if (!controller)
            return false;
        if ((!b.sensors.empty() || !b.relays.empty()) && !writeReadings(controller, b, f))
            return false;
    }
    for (HistoryEvent &e : b.events) {
        if (!e.timeMs)
            e.timeMs = b.timeMs;
        if (!e.controller)
            e.controller = controller;
        if (!insertEvent(e, f))
            return false;
        eventsAdded = true;
        alarmsTouched = alarmsTouched || e.alarm;
    }
    for (WriteAudit &w : b.writes) {
        if (!w.timeMs)
            w.timeMs = b.timeMs;
        if (!w.controller)
            w.controller = controller;
        QSqlQuery &ins = query(prepared.insWrite,
                               "INSERT INTO writes(time_ms, controller, operation, ok) "
                               "VALUES(?, ?, ?, ?)");
        ins.bindValue(0, w.timeMs);
        ins.bindValue(1, w.controller);
        ins.bindValue(2, w.operation);
        ins.bindValue(3, w.ok ? 1 : 0);
        if (!exec(ins, f))
            return false;
        w.id = ins.lastInsertId().toLongLong();
        QSqlQuery &reg = query(prepared.insAudit,
                               "INSERT INTO audit(write_id, reg, before, after, result) "
                               "VALUES(?, ?, ?, ?, ?)");
        for (const AuditRegister &r : w.registers) {
            reg.bindValue(0, w.id);
            reg.bindValue(1, r.reg);
            reg.bindValue(2, r.before);
            reg.bindValue(3, r.after);
            reg.bindValue(4, int(r.result));
            if (!exec(reg, f))
                return false;
        }
        HistoryEvent e;
        e.timeMs = w.timeMs;
        e.controller = w.controller;
        e.kind = EventKind::WriteOperation;
        e.subject = int(w.id);
        e.code = w.ok ? 1 : 0;
        e.text = w.operation;
        if (!insertEvent(e, f))
            return false;
        eventsAdded = true;
    }
    return true;
}

bool HistoryStore::Impl::writeReadings(int controller, const HistoryBatch &b,
                                       HistorySchema::Failure &f)
{
    auto found = blocks.find(controller);
    if (found != blocks.end() && found->second.writer.accepts(b.timeMs, b.sensors.size(), b.relays.size())) {
        OpenBlock &block = found->second;
        block.writer.append(b.timeMs, b.sensors, b.relays);
        QSqlQuery &upd = query(prepared.updBlock,
                               "UPDATE readings SET end_ms=?, data=? WHERE id=?");
        upd.bindValue(0, block.writer.lastMs());
        upd.bindValue(1, block.writer.data());
        upd.bindValue(2, block.rowId);
        if (!exec(upd, f))
            return false;
        if (upd.numRowsAffected() == 1)
            return true;
        // Retention took the block away: start another.
    }
    OpenBlock block;
    block.writer = ReadingBlockWriter(b.timeMs);
    block.writer.append(b.timeMs, b.sensors, b.relays);
    QSqlQuery &ins = query(prepared.insBlock,
                           "INSERT INTO readings(controller, start_ms, end_ms, data) "
                           "VALUES(?, ?, ?, ?)");
    ins.bindValue(0, controller);
    ins.bindValue(1, block.writer.startMs());
    ins.bindValue(2, block.writer.lastMs());
    ins.bindValue(3, block.writer.data());
    if (!exec(ins, f))
        return false;
    block.rowId = ins.lastInsertId().toLongLong();
    blocks[controller] = std::move(block);
    return true;
}

bool HistoryStore::Impl::insertEvent(HistoryEvent &e, HistorySchema::Failure &f)
{
    QSqlQuery &ins = query(prepared.insEvent,
                           "INSERT INTO events(time_ms, controller, kind, subject, code, "
                           "previous, text, alarm, acknowledged_ms) "
                           "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    ins.bindValue(0, e.timeMs);
    ins.bindValue(1, e.controller);
    ins.bindValue(2, int(e.kind));
    ins.bindValue(3, e.subject);
    ins.bindValue(4, e.code);
    ins.bindValue(5, e.previous);
    ins.bindValue(6, e.text.isNull() ? QStringLiteral("") : e.text);
    ins.bindValue(7, e.alarm ? 1 : 0);
    ins.bindValue(8, e.acknowledgedMs);
    if (!exec(ins, f))
        return false;
    e.id = ins.lastInsertId().toLongLong();
    return true;
}

bool HistoryStore::Impl::acknowledge(qint64 eventId, qint64 nowMs, HistorySchema::Failure &f,
                                     bool &eventsAdded)
{
    QSqlQuery q(QSqlDatabase::database(writerName, false));
    int controller = 0;
    if (eventId) {
        q.prepare(QStringLiteral("SELECT controller FROM events WHERE id=? AND alarm=1 AND "
                                 "acknowledged_ms=0"));
        q.addBindValue(eventId);
        if (!exec(q, f))
            return false;
        if (!q.next())
            return true; // not an alarm, or acknowledged already
        controller = q.value(0).toInt();
        q.finish();
        q.prepare(QStringLiteral("UPDATE events SET acknowledged_ms=? WHERE id=?"));
        q.addBindValue(nowMs);
        q.addBindValue(eventId);
    } else {
        q.prepare(QStringLiteral("UPDATE events SET acknowledged_ms=? WHERE alarm=1 AND "
                                 "acknowledged_ms=0"));
        q.addBindValue(nowMs);
    }
    if (!exec(q, f))
        return false;
    const int count = q.numRowsAffected();
    if (count <= 0)
        return true;
    HistoryEvent e;
    e.timeMs = nowMs;
    e.controller = controller;
    e.kind = EventKind::AlarmAcknowledged;
    e.subject = int(eventId);
    e.code = count;
    if (!insertEvent(e, f))
        return false;
    eventsAdded = true;
    alarmsTouched = true;
    return true;
}

int HistoryStore::Impl::countAlarms()
{
    QSqlQuery q(QSqlDatabase::database(writerName, false));
    if (!q.exec(QStringLiteral("SELECT count(*) FROM events WHERE alarm=1 AND acknowledged_ms=0")) ||
        !q.next())
        return lastAlarmCount;
    return q.value(0).toInt();
}

void HistoryStore::Impl::afterCommit(bool eventsAdded)
{
    if (!alarmsTouched && !eventsAdded)
        return;
    const int alarms = alarmsTouched ? countAlarms() : lastAlarmCount;
    alarmsTouched = false;
    const bool alarmsChanged = alarms != lastAlarmCount;
    lastAlarmCount = alarms;
    if (!eventsAdded && !alarmsChanged)
        return;
    QMetaObject::invokeMethod(
        q,
        [q = q, eventsAdded, alarmsChanged, alarms] {
            if (eventsAdded)
                emit q->eventsAdded();
            if (alarmsChanged)
                emit q->alarmsChanged(alarms);
        },
        Qt::QueuedConnection);
}

void HistoryStore::Impl::reportFault(const HistorySchema::Failure &f)
{
    if (f.fault == reportedFault)
        return;
    reportedFault = f.fault;
    // The text is made on the store's thread, which owns the settings it comes from.
    QMetaObject::invokeMethod(
        q, [q = q, f] { emit q->problemChanged(q->d->textOf(f)); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- retention

qint64 HistoryStore::Impl::pragma(const char *name)
{
    QSqlQuery q(QSqlDatabase::database(writerName, false));
    if (!q.exec(QStringLiteral("PRAGMA %1").arg(QLatin1StringView(name))) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

void HistoryStore::Impl::startRetention(qint64 nowMs)
{
    retention = {};
    retention.total.start();
    retention.cutoffMs = limits.retentionDays > 0
                             ? nowMs - qint64(limits.retentionDays) * 24 * 3600 * 1000
                             : std::numeric_limits<qint64>::min();
}

bool HistoryStore::Impl::retentionChunk(const QString &sql, const QVariantList &values,
                                        qint64 &deleted, HistorySchema::Failure &f, int times)
{
    QElapsedTimer timer;
    timer.start();
    deleted = 0;
    if (!execSql(QStringLiteral("BEGIN IMMEDIATE"), f))
        return false;
    QSqlQuery q(QSqlDatabase::database(writerName, false));
    bool ok = true;
    for (const QString &statement : sql.split(u';', Qt::SkipEmptyParts)) {
        q.prepare(statement);
        for (int i = 0; i < values.size() && statement.count(u'?') > i; ++i)
            q.bindValue(i, values[i]);
        for (int n = 0; ok && n < times; ++n) {
            ok = exec(q, f);
            deleted = q.numRowsAffected(); // the last statement's rows count
            q.finish(); // a statement left open would stop the COMMIT
        }
        if (!ok)
            break;
    }
    ok = ok && execSql(QStringLiteral("COMMIT"), f);
    if (!ok) {
        HistorySchema::Failure ignored;
        execSql(QStringLiteral("ROLLBACK"), ignored);
    }
    const qint64 ns = timer.nsecsElapsed();
    ++retention.partial.retentionChunks;
    retention.partial.retentionLongestChunkNs =
        std::max(retention.partial.retentionLongestChunkNs, ns);
    return ok;
}

// One chunk of the pass; phases: age of readings per controller, age of events, age of
// writes, size, giving free pages back.
bool HistoryStore::Impl::retentionStep()
{
    HistorySchema::Failure f;
    if (!connect(f))
        return false;
    RetentionRun &r = retention;
    qint64 deleted = 0;
    switch (r.phase) {
    case 0: { // readings by age, controller by controller (their index is theirs)
        if (r.controllers.empty() && r.controllerIndex == 0) {
            QSqlQuery q(QSqlDatabase::database(writerName, false));
            if (q.exec(QStringLiteral("SELECT id FROM controllers ORDER BY id")))
                while (q.next())
                    r.controllers.push_back(q.value(0).toInt());
        }
        if (limits.retentionDays <= 0 || r.controllerIndex >= r.controllers.size()) {
            r.phase = 1;
            return true;
        }
        const int controller = r.controllers[r.controllerIndex];
        if (!retentionChunk(QStringLiteral("DELETE FROM readings WHERE id IN (SELECT id FROM "
                                           "readings WHERE controller=? AND start_ms<? "
                                           "LIMIT %1)")
                                .arg(kRetentionBlocksPerChunk),
                            {controller, r.cutoffMs - kMaxBlockSpanMs}, deleted, f))
            return false;
        r.partial.retentionBlocks += deleted;
        if (deleted < kRetentionBlocksPerChunk)
            ++r.controllerIndex;
        return true;
    }
    case 1: // events by age; alarms waiting for their acknowledgement stay
        if (limits.retentionDays <= 0) {
            r.phase = 3;
            return true;
        }
        if (!retentionChunk(QStringLiteral("DELETE FROM events WHERE id IN (SELECT id FROM "
                                           "events WHERE time_ms<? AND NOT (alarm=1 AND "
                                           "acknowledged_ms=0) LIMIT %1)")
                                .arg(kRetentionRowsPerChunk),
                            {r.cutoffMs}, deleted, f))
            return false;
        r.partial.retentionEvents += deleted;
        if (deleted < kRetentionRowsPerChunk)
            r.phase = 2;
        return true;
    case 2: // writes and their registers by age
        if (!retentionChunk(QStringLiteral("DELETE FROM audit WHERE write_id IN (SELECT id FROM "
                                           "writes WHERE time_ms<? ORDER BY id LIMIT %1);"
                                           "DELETE FROM writes WHERE id IN (SELECT id FROM "
                                           "writes WHERE time_ms<? ORDER BY id LIMIT %1)")
                                .arg(kRetentionBlocksPerChunk),
                            {r.cutoffMs}, deleted, f))
            return false;
        if (deleted < kRetentionBlocksPerChunk)
            r.phase = 3;
        return true;
    case 3: { // size: the oldest readings first, then the oldest events and writes
        const qint64 pageSize = pragma("page_size");
        const qint64 used = (pragma("page_count") - pragma("freelist_count")) * pageSize;
        const qint64 limit = r.sizeStarted ? qint64(double(limits.maxBytes) * kSizeTarget)
                                           : limits.maxBytes;
        if (limits.maxBytes <= 0 || pageSize <= 0 || used <= limit) {
            r.phase = 4;
            return true;
        }
        r.sizeStarted = true;
        // A block fills about a page: no more than the excess.
        const qint64 target = qint64(double(limits.maxBytes) * kSizeTarget);
        const qint64 blocks = std::clamp<qint64>((used - target) / pageSize + 1, 1,
                                                 kRetentionBlocksPerChunk);
        if (!retentionChunk(QStringLiteral("DELETE FROM readings WHERE id IN (SELECT id FROM "
                                           "readings ORDER BY id LIMIT %1)")
                                .arg(blocks),
                            {}, deleted, f))
            return false;
        r.partial.retentionBlocks += deleted;
        if (deleted > 0)
            return true;
        if (!retentionChunk(QStringLiteral("DELETE FROM events WHERE id IN (SELECT id FROM "
                                           "events WHERE NOT (alarm=1 AND acknowledged_ms=0) "
                                           "ORDER BY id LIMIT %1)")
                                .arg(kRetentionRowsPerChunk),
                            {}, deleted, f))
            return false;
        r.partial.retentionEvents += deleted;
        qint64 writes = 0;
        if (!retentionChunk(QStringLiteral("DELETE FROM audit WHERE write_id IN (SELECT id "
                                           "FROM writes ORDER BY id LIMIT %1);"
                                           "DELETE FROM writes WHERE id IN (SELECT id FROM "
                                           "writes ORDER BY id LIMIT %1)")
                                .arg(kRetentionBlocksPerChunk),
                            {}, writes, f))
            return false;
        if (deleted == 0 && writes == 0)
            r.phase = 4; // nothing left to take
        return true;
    }
    case 4: { // free pages back to the file system, when they are many
        const qint64 pageSize = pragma("page_size");
        const qint64 pages = pragma("page_count");
        const qint64 free = pragma("freelist_count");
        const qint64 worth = std::max(kVacuumMinFreeBytes, limits.maxBytes / 10);
        if (pragma("auto_vacuum") != 2 || free <= 0)
            return false;
        if (!r.vacuumStarted && (free * pageSize < worth || free * 4 < pages))
            return false;
        r.vacuumStarted = true; // then down to the last free page
        // Qt steps a statement once per exec, and this one gives back a page per step.
        if (!retentionChunk(QStringLiteral("PRAGMA incremental_vacuum(1)"), {}, deleted, f,
                            int(std::min<qint64>(free, kVacuumPagesPerChunk))))
            return false;
        const qint64 after = pragma("freelist_count");
        r.partial.vacuumedPages += free - after;
        return after < free;
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------- queries

int HistoryStore::ControllerOrNewest(int controller) const
{
    if (controller != 0)
        return controller;
    const std::vector<HistoryControllerRow> rows = Controllers();
    return rows.empty() ? 0 : rows.back().id;
}

std::vector<HistoryControllerRow> HistoryStore::Controllers() const
{
    std::vector<HistoryControllerRow> rows;
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, device_code, address, port, firmware FROM "
                               "controllers ORDER BY id")))
        return rows;
    while (q.next()) {
        HistoryControllerRow row;
        row.id = q.value(0).toInt();
        row.controller.deviceCode = quint16(q.value(1).toUInt());
        row.controller.address = q.value(2).toInt();
        row.controller.port = q.value(3).toString();
        row.controller.firmware = q.value(4).toString();
        rows.push_back(row);
    }
    return rows;
}

int HistoryStore::ControllerId(const HistoryController &c) const
{
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return 0;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT id FROM controllers WHERE device_code=? AND address=? AND "
                             "port=? AND firmware=?"));
    q.addBindValue(c.deviceCode);
    q.addBindValue(c.address);
    q.addBindValue(c.port);
    q.addBindValue(c.firmware);
    return RunPrepared(q) && q.next() ? q.value(0).toInt() : 0;
}

namespace {

// The blocks that hold a controller's readings of [fromMs, toMs], and a few before them
// for the reading each series starts with; oldest first.
template <class OnBlock>
void forEachBlock(const QSqlDatabase &db, int controller, qint64 fromMs, qint64 toMs,
                  OnBlock onBlock)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT start_ms, data FROM (SELECT start_ms, data, id FROM "
                             "readings WHERE controller=? AND start_ms<? ORDER BY start_ms "
                             "DESC LIMIT 3) ORDER BY start_ms, id"));
    q.addBindValue(controller);
    q.addBindValue(fromMs - kMaxBlockSpanMs);
    if (RunPrepared(q))
        while (q.next())
            onBlock(q.value(0).toLongLong(), q.value(1).toByteArray());
    q.prepare(QStringLiteral("SELECT start_ms, data FROM readings WHERE controller=? AND "
                             "start_ms>=? AND start_ms<=? ORDER BY start_ms, id"));
    q.addBindValue(controller);
    q.addBindValue(fromMs - kMaxBlockSpanMs);
    q.addBindValue(toMs);
    if (RunPrepared(q))
        while (q.next())
            onBlock(q.value(0).toLongLong(), q.value(1).toByteArray());
}

// Series by number, built in time order with the last value before the range in front.
template <class Series, class Reading, int Series::*numberField>
struct SeriesBuilder {
    qint64 fromMs, toMs;
    std::vector<Series> series;
    std::vector<int> slot; // number -> index + 1
    std::vector<std::optional<std::pair<qint64, Reading>>> before;

    size_t index(int number)
    {
        if (number < 0)
            number = 0;
        if (size_t(number) >= slot.size()) {
            slot.resize(size_t(number) + 1, 0);
            before.resize(size_t(number) + 1);
        }
        if (!slot[size_t(number)]) {
            series.emplace_back();
            slot[size_t(number)] = int(series.size());
        }
        return size_t(slot[size_t(number)] - 1);
    }

    // One decoded reading of the given number; add appends it to its series.
    template <class Add> void take(qint64 t, const Reading &r, int number, Add add)
    {
        if (t > toMs)
            return;
        Series &s = series[index(number)];
        s.*numberField = number;
        const size_t n = size_t(number < 0 ? 0 : number);
        if (t < fromMs) {
            before[n] = std::pair{t, r};
            return;
        }
        if (s.timesMs.empty())
            if (const auto &first = before[n])
                add(s, first->first, first->second);
        add(s, t, r);
    }

    // A number with nothing in the range still shows its last value before it; by number.
    template <class Add> std::vector<Series> finish(Add add)
    {
        for (Series &s : series)
            if (s.timesMs.empty())
                if (const auto &first = before[size_t(std::max(s.*numberField, 0))])
                    add(s, first->first, first->second);
        std::sort(series.begin(), series.end(), [](const Series &x, const Series &y) {
            return x.*numberField < y.*numberField;
        });
        return std::move(series);
    }
};

} // namespace

std::vector<SensorSeries> HistoryStore::SensorReadings(int controller, qint64 fromMs,
                                                      qint64 toMs) const
{
    if (toMs <= 0)
        toMs = std::numeric_limits<qint64>::max();
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return {};
    SeriesBuilder<SensorSeries, SensorReading, &SensorSeries::sensor> b{fromMs, toMs, {}, {}, {}};
    auto add = [](SensorSeries &s, qint64 t, const SensorReading &r) {
        s.timesMs.push_back(t);
        s.status.push_back(r.status);
        s.temperature.push_back(r.temperature);
        s.seconds.push_back(r.seconds);
    };
    forEachBlock(db, controller, fromMs, toMs, [&](qint64 startMs, const QByteArray &data) {
        DecodeReadingBlock(
            startMs, data,
            [&](qint64 t, const SensorReading &r) {
                b.take(t, r, r.sensor, add);
            },
            [](qint64, const RelayReading &) {});
    });
    return b.finish(add);
}

std::vector<RelaySeries> HistoryStore::RelayReadings(int controller, qint64 fromMs,
                                                    qint64 toMs) const
{
    if (toMs <= 0)
        toMs = std::numeric_limits<qint64>::max();
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return {};
    SeriesBuilder<RelaySeries, RelayReading, &RelaySeries::relay> b{fromMs, toMs, {}, {}, {}};
    auto add = [](RelaySeries &s, qint64 t, const RelayReading &r) {
        s.timesMs.push_back(t);
        s.on.push_back(r.on ? 1 : 0);
    };
    forEachBlock(db, controller, fromMs, toMs, [&](qint64 startMs, const QByteArray &data) {
        DecodeReadingBlock(
            startMs, data, [](qint64, const SensorReading &) {},
            [&](qint64 t, const RelayReading &r) {
                b.take(t, r, r.relay, add);
            });
    });
    return b.finish(add);
}

std::vector<HistoryEvent> HistoryStore::Events(const EventFilter &filter) const
{
    std::vector<HistoryEvent> events;
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return events;
    QString sql = QStringLiteral("SELECT id, time_ms, controller, kind, subject, code, previous, "
                                 "text, alarm, acknowledged_ms FROM events WHERE time_ms>=?");
    QVariantList values{filter.fromMs};
    if (filter.toMs > 0) {
        sql += QStringLiteral(" AND time_ms<=?");
        values << filter.toMs;
    }
    if (!filter.kinds.empty()) {
        QStringList kinds;
        for (EventKind k : filter.kinds)
            kinds << QString::number(int(k));
        sql += QStringLiteral(" AND kind IN (%1)").arg(kinds.join(u','));
    }
    if (filter.subject) {
        sql += QStringLiteral(" AND subject=?");
        values << filter.subject;
    }
    if (filter.controller) {
        sql += QStringLiteral(" AND controller=?");
        values << filter.controller;
    }
    if (filter.alarmsOnly || filter.unacknowledgedOnly)
        sql += QStringLiteral(" AND alarm=1");
    if (filter.unacknowledgedOnly)
        sql += QStringLiteral(" AND acknowledged_ms=0");
    sql += QStringLiteral(" ORDER BY time_ms DESC, id DESC");
    if (filter.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!RunPrepared(q))
        return events;
    while (q.next()) {
        HistoryEvent e;
        e.id = q.value(0).toLongLong();
        e.timeMs = q.value(1).toLongLong();
        e.controller = q.value(2).toInt();
        e.kind = EventKind(q.value(3).toInt());
        e.subject = q.value(4).toInt();
        e.code = q.value(5).toInt();
        e.previous = q.value(6).toInt();
        e.text = q.value(7).toString();
        e.alarm = q.value(8).toInt() != 0;
        e.acknowledgedMs = q.value(9).toLongLong();
        events.push_back(std::move(e));
    }
    return events;
}

namespace {

std::vector<WriteAudit> readWrites(const QSqlDatabase &db, const QString &where,
                                   const QVariantList &values)
{
    std::vector<WriteAudit> writes;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, time_ms, controller, operation, ok FROM writes WHERE ") +
              where + QStringLiteral(" ORDER BY time_ms, id"));
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!RunPrepared(q))
        return writes;
    while (q.next()) {
        WriteAudit w;
        w.id = q.value(0).toLongLong();
        w.timeMs = q.value(1).toLongLong();
        w.controller = q.value(2).toInt();
        w.operation = q.value(3).toString();
        w.ok = q.value(4).toInt() != 0;
        writes.push_back(std::move(w));
    }
    QSqlQuery r(db);
    r.setForwardOnly(true);
    r.prepare(QStringLiteral("SELECT reg, before, after, result FROM audit WHERE write_id=? "
                             "ORDER BY rowid"));
    for (WriteAudit &w : writes) {
        r.bindValue(0, w.id);
        if (!RunPrepared(r))
            continue;
        while (r.next())
            w.registers.push_back({r.value(0).toInt(), r.value(1).toInt(), r.value(2).toInt(),
                                   WriteResult(r.value(3).toInt())});
    }
    return writes;
}

} // namespace

std::vector<WriteAudit> HistoryStore::Writes(qint64 fromMs, qint64 toMs, int controller) const
{
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return {};
    QString where = QStringLiteral("time_ms>=?");
    QVariantList values{fromMs};
    if (toMs > 0) {
        where += QStringLiteral(" AND time_ms<=?");
        values << toMs;
    }
    if (controller) {
        where += QStringLiteral(" AND controller=?");
        values << controller;
    }
    return readWrites(db, where, values);
}

WriteAudit HistoryStore::Write(qint64 writeId) const
{
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return {};
    auto writes = readWrites(db, QStringLiteral("id=?"), {writeId});
    return writes.empty() ? WriteAudit{} : std::move(writes.front());
}

int HistoryStore::UnacknowledgedAlarms(int controller) const
{
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return 0;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*) FROM events WHERE alarm=1 AND acknowledged_ms=0 "
                             "AND (?=0 OR controller=?)"));
    q.addBindValue(controller);
    q.addBindValue(controller);
    return RunPrepared(q) && q.next() ? q.value(0).toInt() : 0;
}

std::pair<qint64, qint64> HistoryStore::ReadingSpan(int controller) const
{
    QSqlDatabase db = d->reader();
    if (!db.isValid())
        return {0, 0};
    std::vector<int> ids;
    if (controller)
        ids.push_back(controller);
    else
        for (const HistoryControllerRow &row : Controllers())
            ids.push_back(row.id);
    qint64 first = 0, last = 0;
    QSqlQuery q(db);
    for (int id : ids) {
        q.prepare(QStringLiteral("SELECT start_ms FROM readings WHERE controller=? ORDER BY "
                                 "start_ms LIMIT 1"));
        q.addBindValue(id);
        if (RunPrepared(q) && q.next()) {
            const qint64 t = q.value(0).toLongLong();
            first = first ? std::min(first, t) : t;
        }
        q.prepare(QStringLiteral("SELECT max(end_ms) FROM (SELECT end_ms FROM readings WHERE "
                                 "controller=? ORDER BY start_ms DESC LIMIT 3)"));
        q.addBindValue(id);
        if (RunPrepared(q) && q.next() && !q.value(0).isNull())
            last = std::max(last, q.value(0).toLongLong());
    }
    return {first, last};
}
