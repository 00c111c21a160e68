#include "HistorySchema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QVariant>

namespace HistorySchema {

namespace {

// Schema steps: entry n brings a file from version n to n + 1.
const char *const kStep0[] = {
    "CREATE TABLE controllers(id INTEGER PRIMARY KEY, device_code INTEGER NOT NULL, "
    "address INTEGER NOT NULL, port TEXT NOT NULL, firmware TEXT NOT NULL)",
    "CREATE UNIQUE INDEX controllers_key ON controllers(device_code, address, port, firmware)",
    // Sensor and relay readings of one controller in blocks (ReadingBlock.h).
    "CREATE TABLE readings(id INTEGER PRIMARY KEY, controller INTEGER NOT NULL, "
    "start_ms INTEGER NOT NULL, end_ms INTEGER NOT NULL, data BLOB NOT NULL)",
    "CREATE INDEX readings_time ON readings(controller, start_ms)",
    "CREATE TABLE events(id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, "
    "controller INTEGER NOT NULL, kind INTEGER NOT NULL, subject INTEGER NOT NULL, "
    "code INTEGER NOT NULL, previous INTEGER NOT NULL, text TEXT NOT NULL, "
    "alarm INTEGER NOT NULL, acknowledged_ms INTEGER NOT NULL)",
    "CREATE INDEX events_time ON events(time_ms)",
    "CREATE INDEX events_kind ON events(kind, subject, time_ms)",
    "CREATE INDEX events_waiting ON events(time_ms) WHERE alarm=1 AND acknowledged_ms=0",
    "CREATE TABLE writes(id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, "
    "controller INTEGER NOT NULL, operation TEXT NOT NULL, ok INTEGER NOT NULL)",
    "CREATE INDEX writes_time ON writes(time_ms)",
    "CREATE TABLE audit(write_id INTEGER NOT NULL, reg INTEGER NOT NULL, "
    "before INTEGER NOT NULL, after INTEGER NOT NULL, result INTEGER NOT NULL)",
    "CREATE INDEX audit_write ON audit(write_id)",
    nullptr};
const char *const *const kSteps[] = {kStep0};
static_assert(std::size(kSteps) == kVersion);

enum class Verdict { Ours, New, Foreign };

constexpr int kSqliteFull = 13, kSqliteReadOnly = 8, kSqlitePerm = 3, kSqliteCantOpen = 14,
              kSqliteCorrupt = 11, kSqliteNotADb = 26, kSqliteIoErr = 10, kSqliteAuth = 23;

int primaryCode(const QSqlError &e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : -1;
}

bool damaged(const QSqlError &e)
{
    const int code = primaryCode(e);
    return code == kSqliteCorrupt || code == kSqliteNotADb;
}

QString reasonOf(const QSqlError &e)
{
    return e.databaseText().isEmpty() ? e.text() : e.databaseText();
}

} // namespace

bool SetAside(const QString &path, QString *asidePath, Failure &f)
{
    const QString aside = AsideName(path);
    if (!QFile::rename(path, aside)) {
        QFile file(path);
        f = {Fault::Other, file.errorString()};
        return false;
    }
    for (const char *suffix : {"-wal", "-shm"})
        if (QFileInfo::exists(path + QLatin1StringView(suffix)))
            QFile::rename(path + QLatin1StringView(suffix), aside + QLatin1StringView(suffix));
    if (asidePath)
        *asidePath = aside;
    return true;
}

namespace {

bool exec(QSqlQuery &q, const QString &sql, Failure &f, const QString &folder)
{
    if (q.exec(sql))
        return true;
    f = Classify(q.lastError(), folder);
    return false;
}

// What the file is: ours (of this version or older), an empty new one, or not ours.
Verdict judge(QSqlDatabase &db, Failure &f, const QString &folder, bool &broken)
{
    QSqlQuery q(db);
    broken = false;
    auto value = [&](const QString &sql, qint64 &out) {
        if (!q.exec(sql) || !q.next()) {
            broken = damaged(q.lastError());
            if (!broken)
                f = Classify(q.lastError(), folder);
            return false;
        }
        out = q.value(0).toLongLong();
        return true;
    };
    qint64 appId = 0, version = 0, tables = 0;
    if (!value(QStringLiteral("PRAGMA application_id"), appId) ||
        !value(QStringLiteral("PRAGMA user_version"), version) ||
        !value(QStringLiteral("SELECT count(*) FROM sqlite_master"), tables))
        return Verdict::Foreign;
    if (appId == 0 && version == 0 && tables == 0)
        return Verdict::New;
    if (appId != kApplicationId || version < 1 || version > kVersion)
        return Verdict::Foreign;
    return Verdict::Ours;
}

bool migrate(QSqlDatabase &db, bool created, Failure &f, const QString &folder)
{
    QSqlQuery q(db);
    qint64 version = 0;
    if (!exec(q, QStringLiteral("PRAGMA user_version"), f, folder) || !q.next())
        return false;
    version = q.value(0).toLongLong();
    if (version >= kVersion)
        return true;
    if (!exec(q, QStringLiteral("BEGIN IMMEDIATE"), f, folder))
        return false;
    bool ok = true;
    for (qint64 v = version; ok && v < kVersion; ++v)
        for (const char *const *sql = kSteps[v]; ok && *sql; ++sql)
            ok = exec(q, QString::fromLatin1(*sql), f, folder);
    ok = ok && exec(q, QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId), f, folder) &&
         exec(q, QStringLiteral("PRAGMA user_version=%1").arg(kVersion), f, folder) &&
         exec(q, QStringLiteral("COMMIT"), f, folder);
    if (!ok)
        q.exec(QStringLiteral("ROLLBACK"));
    Q_UNUSED(created);
    return ok;
}

} // namespace

QString AsideName(const QString &path)
{
    const QString base =
        path + QStringLiteral(".damaged-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo::exists(name + QStringLiteral("-wal")); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

Failure CheckReadable(const QString &connection, const QString &folder)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    Failure f;
    bool broken = false;
    switch (judge(db, f, folder, broken)) {
    case Verdict::Ours:
        return {};
    case Verdict::New:
        return {Fault::Other, QStringLiteral("no tables yet")};
    case Verdict::Foreign:
        break;
    }
    if (f.fault != Fault::None && !broken)
        return f;
    return {Fault::Other, QStringLiteral("not a history of this program")};
}

Check QuickCheck(const QString &connection, const QString &folder, Failure &f)
{
    QSqlQuery q(QSqlDatabase::database(connection, false));
    if (!q.exec(QStringLiteral("PRAGMA quick_check"))) {
        if (damaged(q.lastError()))
            return Check::Damaged;
        f = Classify(q.lastError(), folder);
        return Check::Failed;
    }
    return q.next() && q.value(0).toString() == QLatin1StringView("ok") ? Check::Sound
                                                                         : Check::Damaged;
}

Failure Classify(const QSqlError &error, const QString &folder)
{
    const int code = primaryCode(error);
    if (code == kSqliteFull)
        return {Fault::Full, reasonOf(error)};
    if (code == kSqliteReadOnly || code == kSqlitePerm || code == kSqliteCantOpen ||
        code == kSqliteAuth)
        return {Fault::ReadOnly, reasonOf(error)};
    if (code == kSqliteIoErr) {
        // SQLite says "disk I/O error" for a write the system refused for want of space.
        const QStorageInfo storage(folder);
        if (storage.isValid() && storage.bytesAvailable() < 1024 * 1024)
            return {Fault::Full, reasonOf(error)};
    }
    return {Fault::Other, reasonOf(error)};
}

Failure OpenFile(const QString &connection, const QString &folder, const QString &path,
                 QString *asidePath)
{
    for (int round = 0; round < 2; ++round) {
        Failure f;
        if (!QDir().mkpath(folder))
            return {Fault::ReadOnly, folder};
        bool foreign = false;
        const QFileInfo info(path);
        if (info.exists() && info.size() > 0) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return {Fault::ReadOnly, file.errorString()};
            const QByteArray head = file.read(100);
            foreign = head.size() < 100 || !head.startsWith(QByteArrayLiteral("SQLite format 3\0"));
        }
        if (!foreign) {
            QSqlDatabase db = QSqlDatabase::contains(connection)
                                  ? QSqlDatabase::database(connection, false)
                                  : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.close();
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            if (!db.open()) {
                if (!damaged(db.lastError()))
                    return Classify(db.lastError(), folder);
                foreign = true;
            } else {
                bool broken = false;
                const Verdict verdict = judge(db, f, folder, broken);
                if (verdict == Verdict::Foreign && !broken && f.fault != Fault::None) {
                    db.close();
                    return f;
                }
                if (verdict == Verdict::Foreign) {
                    foreign = true;
                } else {
                    QSqlQuery q(db);
                    if (verdict == Verdict::New &&
                        !exec(q, QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"), f, folder))
                        return f;
                    if (!exec(q, QStringLiteral("PRAGMA journal_mode=WAL"), f, folder))
                        return f;
                    if (!q.next() || q.value(0).toString().compare(u"wal", Qt::CaseInsensitive)) {
                        db.close();
                        return {Fault::ReadOnly, QStringLiteral("journal_mode")};
                    }
                    if (!exec(q, QStringLiteral("PRAGMA synchronous=NORMAL"), f, folder) ||
                        !exec(q, QStringLiteral("PRAGMA journal_size_limit=67108864"), f, folder) ||
                        !migrate(db, verdict == Verdict::New, f, folder)) {
                        db.close();
                        return f;
                    }
                    return {};
                }
            }
            db.close();
        }
        if (round > 0 || !SetAside(path, asidePath, f))
            return f.fault != Fault::None ? f : Failure{Fault::Other, path};
    }
    return {Fault::Other, path};
}

} // namespace HistorySchema
