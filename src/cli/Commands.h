#pragma once

class Session;
struct CliOptions;

// The subcommands; each returns the exit code of the run.
int RunIdentify(Session &session, const CliOptions &options);
int RunWatch(Session &session, const CliOptions &options);
int RunReadProfile(Session &session, const CliOptions &options);
int RunWriteProfile(Session &session, const CliOptions &options);
int RunRecord(Session &session, const CliOptions &options);
