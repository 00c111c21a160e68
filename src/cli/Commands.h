#pragma once
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class MainState;
class TrendFile;
struct TrendReadings;
class PollCycle;
class QDateTime;

class MemIniFile;
class Session;
struct CliOptions;

// The subcommands; each returns the exit code of the run.
int RunIdentify(Session &session, const CliOptions &options);
int RunWatch(Session &session, const CliOptions &options);
int RunReadProfile(Session &session, const CliOptions &options);
int RunWriteProfile(Session &session, const CliOptions &options);
int RunRecord(Session &session, const CliOptions &options);
int RunGet(Session &session, const CliOptions &options);
int RunSet(Session &session, const CliOptions &options);
// Needs no controller: texts is the settings file of the messages' language.
int RunTrend(const CliOptions &options, const MemIniFile &texts);
// The working folder's history, no controller needed: settings is its start.ini.
int RunHistory(const CliOptions &options, const MemIniFile &settings);
int RunEvents(const CliOptions &options, const MemIniFile &settings);
// Polls until a signal (or --for), keeping the history; alarms and link changes on stderr.
int RunServe(Session &session, const CliOptions &options);

// watch's lines, shared with the plant's: one JSON object of the live data, or the TSV
// header of the sensors chosen by the first line and a row of their cells.
QJsonObject WatchJson(const PollCycle &cycle, const MainState &state, const QDateTime &now);
QStringList WatchHeader(const MainState &state, const QList<int> &sensors);
QStringList WatchCells(const PollCycle &cycle, const MainState &state, const QList<int> &sensors,
                       const QDateTime &now);

// record's file: before connecting, it can be written, and an existing one that is not
// empty can be continued (an empty one counts as new); a fault is told with texts.
bool TrendFileUsable(const MemIniFile &texts, const QString &path);
// A row as the trend file takes it; a missing or empty file first gets its header.
bool WriteTrendRow(TrendFile &file, const TrendReadings &r, QString *why);
