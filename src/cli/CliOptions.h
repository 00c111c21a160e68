#pragma once
#include <QString>
#include <QStringList>
#include <optional>

class MemIniFile;

// What the command line asked for. Line settings given here override [connect] of the
// settings file, in memory only.
struct CliOptions {
    QString command; // identify, watch, read-profile, write-profile, record, get, set, trend,
                     // history, events, serve
    QString action;  // history: export or controllers
    QString file;    // the profile or trend file of the command
    QString setting; // get, set: the setting's name (see SettingNames.h)
    QString value;   // set: its new value
    QString workdir; // changed to first
    QString plant;   // plant.ini: every controller of it (identify, watch, record, serve)
    QString mqtt;    // serve: the broker's URL, publishing on ([mqtt] of start.ini for the rest)
    QString ini = QStringLiteral("start.ini");
    bool iniGiven = false;
    std::optional<QString> port;
    std::optional<int> address;  // 1..247
    std::optional<int> speed;    // [connect] speed: index of 9600 .. 115200
    std::optional<int> parity;   // 0 none, 1 even, 2 odd
    std::optional<int> stopbits; // [connect] stopbits: 0 one, 1 two
    std::optional<int> timeout;  // [connect] receive, ms
    std::optional<int> retries;  // [connect] attempts: tries per transaction
    bool json = false;
    std::optional<int> count;    // lines (watch) or rows (record)
    std::optional<int> period;   // s between trend rows or watch lines
    std::optional<qint64> forMs; // watch, record: how long, then exit 0
    std::optional<int> lang;     // [language] lang for this run: 0 Russian, 1 English
    bool dryRun = false;
    bool diff = false;      // write-profile: readable lines of what would change, nothing sent
    bool ids = false;       // read-profile: store sensor IDs whatever [profile] doid says
    bool noConnect = false; // write-profile: leave the connection block alone
    bool noHistory = false; // watch, record: the store is left alone
    // history export, events: the range, UTC ms (to: none = now at the run)
    std::optional<qint64> fromMs, toMs;
    std::optional<int> controller;   // the store's id of a controller
    bool csv = false, trend = false; // history export: the format (CSV unless --trend)
    bool alarms = false;             // events: alarms only
    QString output;                  // history export: the file (none: standard output)
    bool help = false;
    bool version = false;

    // Some of the line (or how it is waited for) comes from the command line rather than the
    // settings file, which then must not take it in.
    bool LineGiven() const {
        return port || address || speed || parity || stopbits || timeout || retries;
    }
};

// Parses the arguments (without the program name). On a fault, *error gets the reason in
// the language of settings (English when [language] lang is 1).
bool ParseCliOptions(const QStringList &args, CliOptions &options, QString *error,
                     const MemIniFile &settings);

// The --help text in the language of settings.
QString CliHelpText(const MemIniFile &settings);

// The [connect] keys the options set, and [language] lang of --lang, written into settings
// (memory only).
void ApplyLineOptions(const CliOptions &options, MemIniFile &settings);

// --lang in args (ru 0, en 1), looked for before the rest is parsed: the usage faults are
// told in it too.
std::optional<int> LanguageOption(const QStringList &args);
// "90", "30s", "10m", "2h", "1d" in ms; none for anything else or nothing.
std::optional<qint64> ParseDuration(const QString &text);
// A moment, UTC ms: ISO 8601 local ("2026-12-08T07:30", a date alone is its midnight) or
// with its offset or Z; also "now" and "-DURATION" before nowMs ("-2h"). None for
// anything else.
std::optional<qint64> ParseMoment(const QString &text, qint64 nowMs);
