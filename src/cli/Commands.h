#pragma once

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
