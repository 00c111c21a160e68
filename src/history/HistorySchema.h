#pragma once
#include <QString>

class QSqlError;

// The file's layout and its checks: what makes a file ours, what sets it aside, how a
// failure is told to the user.
namespace HistorySchema {

inline constexpr int kApplicationId = 0x564c4d48; // "VLMH"
inline constexpr int kVersion = 1;

enum class Fault { None, Full, ReadOnly, Other };

struct Failure {
    Fault fault = Fault::None;
    QString detail; // the system's or SQLite's reason
};

Failure Classify(const QSqlError &error, const QString &folder);

// Opens the connection of this name on path, ready for writing: WAL, synchronous=NORMAL,
// the schema created or brought forward. A file that is not a database, not ours or of a
// newer schema is set aside (asidePath) and a new one started.
Failure OpenFile(const QString &connection, const QString &folder, const QString &path,
                 QString *asidePath);

// Whether an open connection reads a store of ours, without changing the file: a reader
// must never create, convert or set aside what the writer of the folder is using.
Failure CheckReadable(const QString &connection, const QString &folder);

// Reads the whole file of an open connection for damaged pages (PRAGMA quick_check: a full
// integrity_check would read every index too). Failed: it could not be read (f says why).
enum class Check { Sound, Damaged, Failed };
Check QuickCheck(const QString &connection, const QString &folder, Failure &f);

// Renames path to <path>.damaged-<yyyyMMdd-HHmmss> (asidePath), its -wal and -shm
// alongside; false when even that is refused.
bool SetAside(const QString &path, QString *asidePath, Failure &f);

// The name a file that could not be used gets; never one that exists.
QString AsideName(const QString &path);

} // namespace HistorySchema
