#include "CliOptions.h"

#include "CliTexts.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "IntText.h"
#include "MemIniFile.h"
#include "SettingNames.h"
#include "SettingsMessage.h"
#include "TrendRecorder.h"

#include <QDateTime>

namespace {

const QStringList kCommands{
    QStringLiteral("identify"),      QStringLiteral("watch"),  QStringLiteral("read-profile"),
    QStringLiteral("write-profile"), QStringLiteral("record"), QStringLiteral("get"),
    QStringLiteral("set"),           QStringLiteral("trend"),  QStringLiteral("history"),
    QStringLiteral("events"),        QStringLiteral("serve")};
const QStringList kHistoryActions{QStringLiteral("export"), QStringLiteral("controllers")};

// Options followed by a value; any other "--name" that is no flag is unknown.
const QStringList kValueOptions{"--port",    "--ini",        "--workdir", "--address", "--baud",
                                "--parity",  "--stopbits",   "--count",   "--period",  "--timeout",
                                "--retries", "--lang",       "--for",     "--from",    "--to",
                                "--output",  "--controller", "--plant",  "--mqtt"};

// Options that only some subcommands take; every other option applies to all of them.
// clang-format off
const QList<std::pair<QString, QStringList>> kCommandOptions{
    {"--count", {"watch", "record"}},
    {"--period", {"watch", "record"}},
    {"--for", {"watch", "record", "serve"}},
    {"--no-history", {"watch", "record", "write-profile", "set"}},
    {"--from", {"history", "events"}},
    {"--to", {"history", "events"}},
    {"--controller", {"history", "events"}},
    {"--output", {"history"}},
    {"--csv", {"history"}},
    {"--trend", {"history"}},
    {"--alarms", {"events"}},
    {"--ids", {"read-profile"}},
    {"--dry-run", {"write-profile"}},
    {"--diff", {"write-profile"}},
    {"--no-connect", {"write-profile"}},
    {"--plant", {"identify", "watch", "record", "serve"}},
    {"--mqtt", {"serve"}}};
// clang-format on

std::optional<int> Number(const QString &text, int low, int high) {
    const auto v = ParseIntText(text);
    if (!v || *v < low || *v > high)
        return std::nullopt;
    return v;
}

std::optional<int> SpeedIndex(const QString &text) {
    static const QStringList rates{"9600", "19200", "38400", "57600", "115200"};
    const qsizetype i = rates.indexOf(text.trimmed());
    return i < 0 ? std::nullopt : std::optional<int>(int(i));
}

std::optional<int> ParityIndex(const QString &text) {
    static const QStringList names{"none", "even", "odd"};
    const qsizetype i = names.indexOf(text.trimmed().toLower());
    return i < 0 ? std::nullopt : std::optional<int>(int(i));
}

std::optional<int> LanguageIndex(const QString &text) {
    static const QStringList names{"ru", "en"};
    const qsizetype i = names.indexOf(text.trimmed().toLower());
    return i < 0 ? std::nullopt : std::optional<int>(int(i));
}

} // namespace

std::optional<int> LanguageOption(const QStringList &args) {
    std::optional<int> lang;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i].startsWith(QLatin1String("--lang=")))
            lang = LanguageIndex(args[i].mid(7));
        else if (args[i] == QLatin1String("--lang") && i + 1 < args.size())
            lang = LanguageIndex(args[i + 1]);
    }
    return lang;
}

std::optional<qint64> ParseDuration(const QString &text) {
    QString t = text.trimmed().toLower();
    qint64 unit = 1000;
    const QList<std::pair<QChar, qint64>> units{
        {u's', 1000}, {u'm', 60 * 1000}, {u'h', 3600 * 1000}, {u'd', 24 * 3600 * 1000}};
    for (const auto &[suffix, ms] : units)
        if (t.endsWith(suffix)) { // one unit: "1ms" is no duration
            t.chop(1);
            unit = ms;
            break;
        }
    bool ok = false;
    const qint64 n = t.toLongLong(&ok);
    // Up to a year; digits only ("1e3", "+5", " 5" are no durations).
    if (!ok || n < 1 || n * unit > 366LL * 24 * 3600 * 1000 || t != QString::number(n))
        return std::nullopt;
    return n * unit;
}

std::optional<qint64> ParseMoment(const QString &text, qint64 nowMs) {
    const QString t = text.trimmed();
    if (t == QLatin1String("now"))
        return nowMs;
    if (t.startsWith(u'-')) {
        const auto ago = ParseDuration(t.mid(1));
        return ago ? std::optional<qint64>(nowMs - *ago) : std::nullopt;
    }
    const QDateTime when = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!when.isValid())
        return std::nullopt;
    return when.toMSecsSinceEpoch();
}

bool ParseCliOptions(const QStringList &args, CliOptions &o, QString *error,
                     const MemIniFile &settings) {
    const auto fail = [&](const char16_t *russian, const char *english, const QString &what) {
        *error = FixedText(settings, russian, english) + what;
        return false;
    };
    QStringList positional;
    QStringList given; // the options, for checking them against the subcommand
    const qint64 now = QDateTime::currentMSecsSinceEpoch(); // one "now" for the whole line
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(u'=')) {
            value = arg.section(u'=', 1);
            arg = arg.section(u'=', 0, 0);
            inlineValue = true;
        }
        const auto take = [&]() -> std::optional<QString> {
            if (inlineValue)
                return value;
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        const auto flag = [&](bool &target) {
            target = true;
            return !inlineValue;
        };
        // A negative number is a value of set, no option.
        const bool option = arg.startsWith(u'-') && arg.size() > 1 && !arg[1].isDigit();
        if (option)
            given << arg;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.help = true;
        } else if (arg == QLatin1String("--version")) {
            o.version = true;
        } else if (arg == QLatin1String("--json")) {
            if (!flag(o.json))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--dry-run")) {
            if (!flag(o.dryRun))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--ids")) {
            if (!flag(o.ids))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--diff")) {
            if (!flag(o.diff))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--no-connect")) {
            if (!flag(o.noConnect))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--no-history")) {
            if (!flag(o.noHistory))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--csv")) {
            if (!flag(o.csv))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--trend")) {
            if (!flag(o.trend))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg == QLatin1String("--alarms")) {
            if (!flag(o.alarms))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (option && !kValueOptions.contains(arg)) {
            return fail(u"Неизвестный параметр: ", "Unknown option: ", arg);
        } else if (arg.startsWith(QLatin1String("--")) && arg.size() > 2) {
            const auto v = take();
            if (!v)
                return fail(u"Нет значения у параметра ", "Missing value of option ", arg);
            const auto bad = [&] {
                return fail(u"Неверное значение параметра ", "Bad value of option ",
                            arg + QStringLiteral(": ") + *v);
            };
            if (arg == QLatin1String("--port")) {
                o.port = *v;
            } else if (arg == QLatin1String("--ini")) {
                o.ini = *v;
                o.iniGiven = true;
            } else if (arg == QLatin1String("--workdir")) {
                o.workdir = *v;
            } else if (arg == QLatin1String("--address")) {
                if (!(o.address = Number(*v, 1, 247)))
                    return bad();
            } else if (arg == QLatin1String("--baud")) {
                if (!(o.speed = SpeedIndex(*v)))
                    return bad();
            } else if (arg == QLatin1String("--parity")) {
                if (!(o.parity = ParityIndex(*v)))
                    return bad();
            } else if (arg == QLatin1String("--stopbits")) {
                const auto n = Number(*v, 1, 2);
                if (!n)
                    return bad();
                o.stopbits = *n - 1;
            } else if (arg == QLatin1String("--timeout")) {
                if (!(o.timeout = Number(*v, 1, 65535)))
                    return bad();
            } else if (arg == QLatin1String("--retries")) {
                if (!(o.retries = Number(*v, 1, 10)))
                    return bad();
            } else if (arg == QLatin1String("--count")) {
                if (!(o.count = Number(*v, 1, 2147483647)))
                    return bad();
            } else if (arg == QLatin1String("--period")) {
                if (!(o.period = ParseTrendPeriod(*v)))
                    return bad();
            } else if (arg == QLatin1String("--for")) {
                if (!(o.forMs = ParseDuration(*v)))
                    return bad();
            } else if (arg == QLatin1String("--lang")) {
                if (!(o.lang = LanguageIndex(*v)))
                    return bad();
            } else if (arg == QLatin1String("--from")) {
                if (!(o.fromMs = ParseMoment(*v, now)))
                    return bad();
            } else if (arg == QLatin1String("--to")) {
                if (!(o.toMs = ParseMoment(*v, now)))
                    return bad();
            } else if (arg == QLatin1String("--controller")) {
                if (!(o.controller = Number(*v, 1, 2147483647)))
                    return bad();
            } else if (arg == QLatin1String("--plant")) {
                if (v->isEmpty())
                    return bad();
                o.plant = *v;
            } else if (arg == QLatin1String("--mqtt")) {
                if (v->isEmpty()) // the URL itself is checked with the rest of [mqtt]
                    return bad();
                o.mqtt = *v;
            } else if (arg == QLatin1String("--output")) {
                if (v->isEmpty())
                    return bad();
                o.output = *v;
            } else {
                return fail(u"Неизвестный параметр: ", "Unknown option: ", arg);
            }
        } else {
            positional << arg;
        }
    }
    if (o.help || o.version)
        return true;
    if (positional.isEmpty())
        return fail(u"Не указана команда", "No command given", {});
    o.command = positional.takeFirst();
    if (!kCommands.contains(o.command))
        return fail(u"Неизвестная команда: ", "Unknown command: ", o.command);
    // read-profile --json prints the profile; its file is then written only when named.
    // record --plant writes into each controller's folder unless a file is named.
    const bool fileOptional = (o.command == QLatin1String("read-profile") && o.json) ||
                              (o.command == QLatin1String("record") && !o.plant.isEmpty());
    const bool wantsFile = o.command.endsWith(QLatin1String("-profile")) ||
                           o.command == QLatin1String("record") ||
                           o.command == QLatin1String("trend");
    if (wantsFile && !(fileOptional && positional.isEmpty())) {
        if (positional.isEmpty())
            return fail(u"Не указан файл команды ", "No file given to ", o.command);
        o.file = positional.takeFirst();
    }
    if (o.command == QLatin1String("history")) {
        if (positional.isEmpty() || !kHistoryActions.contains(positional.first())) {
            *error = LookupText(settings, Msg::n620) +
                     (positional.isEmpty() ? QString() : QStringLiteral(": ") + positional.first());
            return false;
        }
        o.action = positional.takeFirst();
    }
    if (o.command == QLatin1String("history") && o.action == QLatin1String("export")) {
        if (!o.fromMs)
            return fail(u"Не указано начало: ", "No start given: ", QStringLiteral("--from"));
        if (o.csv && o.trend)
            return fail(u"Один формат: ", "One format only: ", QStringLiteral("--csv, --trend"));
    } else if (o.command == QLatin1String("history")) {
        for (const char *only : {"--from", "--to", "--output", "--csv", "--trend", "--controller"})
            if (given.contains(QLatin1String(only))) {
                *error = LookupText(settings, Msg::n351) + QLatin1String(only) +
                         QStringLiteral(" (history ") + o.action + u')';
                return false;
            }
    }
    if (o.fromMs && o.toMs && *o.fromMs >= *o.toMs)
        return fail(u"Начало не раньше конца: ",
                    "The start is not before the end: ", QStringLiteral("--from, --to"));
    if (o.command == QLatin1String("get") || o.command == QLatin1String("set")) {
        if (positional.isEmpty()) {
            *error = LookupText(settings, Msg::n363) + o.command;
            return false;
        }
        o.setting = positional.takeFirst();
        if (!ParseSettingName(o.setting)) {
            NoteFailure(ErrorKey::UnknownSetting);
            *error = LookupText(settings, Msg::n359) + o.setting;
            return false;
        }
        if (o.command == QLatin1String("set")) {
            if (positional.isEmpty()) {
                *error = LookupText(settings, Msg::n364) + o.setting;
                return false;
            }
            o.value = positional.takeFirst();
        }
    }
    if (!positional.isEmpty())
        return fail(u"Лишний аргумент: ", "Unexpected argument: ", positional.first());
    // The plant's lines are its own: plant.ini and the working folder's start.ini.
    if (!o.plant.isEmpty())
        for (const char *line : {"--port", "--address", "--baud", "--parity", "--stopbits",
                                 "--timeout", "--retries", "--ini"})
            if (given.contains(QLatin1String(line))) {
                *error = LookupText(settings, Msg::n697) + QLatin1String(line);
                return false;
            }
    for (const QString &option : given)
        for (const auto &[name, commands] : kCommandOptions)
            if (option == name && !commands.contains(o.command)) {
                *error = LookupText(settings, Msg::n351) + option + QStringLiteral(" (") +
                         o.command + u')';
                return false;
            }
    return true;
}

void ApplyLineOptions(const CliOptions &o, MemIniFile &settings) {
    const QString connect = QStringLiteral("connect");
    if (o.port)
        settings.writeString(connect, QStringLiteral("port"), *o.port);
    if (o.address)
        settings.writeInteger(connect, QStringLiteral("adr"), *o.address);
    if (o.speed)
        settings.writeInteger(connect, QStringLiteral("speed"), *o.speed);
    if (o.parity)
        settings.writeInteger(connect, QStringLiteral("parity"), *o.parity);
    if (o.stopbits)
        settings.writeInteger(connect, QStringLiteral("stopbits"), *o.stopbits);
    if (o.timeout)
        settings.writeInteger(connect, QStringLiteral("receive"), *o.timeout);
    if (o.retries)
        settings.writeInteger(connect, QStringLiteral("attempts"), *o.retries);
    if (o.lang)
        settings.writeInteger(QStringLiteral("language"), QStringLiteral("lang"), *o.lang);
}

// The plant's section, its lines from the language sections (no doubled blanks there:
// the columns are made here).
static QString PlantHelp(const MemIniFile &settings) {
    const std::pair<QString, TextKey> lines[] = {
        {FixedText(settings, u"--plant ФАЙЛ", "--plant FILE"), Msg::n691},
        {QStringLiteral("identify"), Msg::n692},
        {QStringLiteral("watch"), Msg::n693},
        {FixedText(settings, u"record [ФАЙЛ]", "record [FILE]"), Msg::n694},
        {QStringLiteral("serve"), Msg::n695}};
    QString out = u'\n' + LookupText(settings, Msg::n690) + u'\n';
    // Wrapped as the lines above: descriptions from column 24, up to 88 characters.
    const QString indent(23, u' ');
    for (const auto &[what, key] : lines) {
        QString line = QStringLiteral("  ") + what.leftJustified(20) + u' ';
        for (const QString &word : LookupText(settings, key).split(u' ', Qt::SkipEmptyParts)) {
            if (line.size() + word.size() > 88 && line.size() > indent.size()) {
                out += line.chopped(1) + u'\n';
                line = indent;
            }
            line += word + u' ';
        }
        out += line.chopped(1) + u'\n';
    }
    return out;
}

QString CliHelpText(const MemIniFile &settings) {
    return FixedText(settings, uR"(Использование: velmaris-cli КОМАНДА [ФАЙЛ] [параметры]

Контроллер QOR7070 из сценария: тот же механизм, что и в окне Velmaris.

Команды:
  identify             код устройства, версии прошивки и оборудования
  watch                данные датчиков и состояние реле, строка за циклом опроса
                       (или раз в --period секунд)
  read-profile ФАЙЛ    настройки контроллера в файл профиля (с --json ФАЙЛ не нужен)
  write-profile ФАЙЛ   профиль в контроллер (только отличия от того, что в нём есть)
  record ФАЙЛ          файл тренда, строка раз в --period секунд
  get НАСТРОЙКА        одна настройка, прочитанная из контроллера
  set НАСТРОЙКА ЧИСЛО  одна настройка в контроллер: пределы таблиц окна; записывается
                       только её регистр, затем читается обратно
  trend ФАЙЛ           файл тренда в UTF-8 (с --json: объект на строку)
  serve                опрос без окна до SIGTERM/SIGINT (или --for): история
                       в history.sqlite рабочей папки, тревоги и связь в stderr
  history export       показания из истории за --from..--to: CSV (по умолчанию) или
                       --trend (формат файла тренда) в stdout или в --output ФАЙЛ
  history controllers  контроллеры истории: номер, код, адрес, порт, прошивка
  events               события истории, от старых к новым (--json: объект на строку)

Настройки: sensor.N.threshold1, sensor.N.threshold2 (порог 1 и 2), sensor.N.hysteresis,
  sensor.N.relay1, sensor.N.relay2 (реле порогов), relay.N.mode, relay.N.on-delay,
  relay.N.off-delay, relay.N.link-timeout, connect.channel

Параметры:
  --port ПОРТ          COMn, путь устройства, tcp://УЗЕЛ:ПОРТ или mbtcp://УЗЕЛ:ПОРТ
                       (иначе [connect] port из start.ini)
  --address N          адрес модуля 1..247            --baud 9600..115200
  --parity none|even|odd                             --stopbits 1|2
  --timeout МС         ожидание ответа, мс, 1..65535 (иначе [connect] receive); по сети
                       ожидание растёт с измеренным временем ответа, но не меньше этого
  --retries N          попыток на запрос, 1..10 (по умолчанию 3)
  --ini ФАЙЛ           файл настроек программы (по умолчанию ./start.ini)
  --workdir ПАПКА      рабочая папка (start.ini, default.ini, Cfg/); новая заполняется
                       файлами программы. Без неё: текущая папка, если в ней есть
                       start.ini, иначе папка пользователя, как у окна из меню
  --json               вывод в JSON (watch, trend: объект на строку); отказ любой
                       команды: объект {"error", "exit", "message"} в stdout
  --lang ru|en         язык сообщений (иначе [language] lang из start.ini)
  --count N            watch: строк, record: строк; затем выход
  --period S           watch, record: секунд между строками (record: по умолчанию
                       [trends] time); опрос идёт в своём темпе, в строке последние данные
  --for ВРЕМЯ          watch, record, serve: работать столько (30s, 10m, 2h, 1d),
                       затем выход 0
  --no-history         watch, record, write-profile, set: не записывать историю
                       рабочей папки (записи в контроллер идут в её журнал изменений)
  --mqtt URL           serve: показания на брокер MQTT (mqtt://УЗЕЛ:ПОРТ или
                       mqtts://УЗЕЛ:ПОРТ), остальное из [mqtt] start.ini; только чтение
  --from, --to ВРЕМЯ   history export (--from обязателен), events: ISO 8601, местное
                       (2026-12-08T07:30, дата: её полночь) или со смещением/Z; now,
                       -2h (назад от сейчас); --to по умолчанию сейчас
  --controller N       history export, events: контроллер истории (history controllers);
                       export без него: единственный в истории
  --csv, --trend       history export: формат; --output ФАЙЛ: файл вместо stdout
  --alarms             events: только тревоги
  --ids                read-profile: сохранить номера датчиков (иначе [profile] doid)
  --dry-run            write-profile: только показать кадры (hex), ничего не посылать
  --diff               write-profile: только показать, что изменится, ничего не посылать
  --no-connect         write-profile: не записывать настройки связи
  --help, --version
)",
                     R"(Usage: velmaris-cli COMMAND [FILE] [options]

A QOR7070 controller from a script: the same engine as the Velmaris window.

Commands:
  identify             device code, firmware and hardware versions
  watch                live sensor data and relay states, one line per poll cycle
                       (or one every --period seconds)
  read-profile FILE    the controller's settings into a profile file (FILE optional
                       with --json)
  write-profile FILE   a profile into the controller (only what differs from it)
  record FILE          a trend file, one row every --period seconds
  get SETTING          one setting, read from the controller
  set SETTING NUMBER   one setting into the controller: the limits of the window's
                       tables; only its register is written, then read back
  trend FILE           a trend file in UTF-8 (with --json: one object per row)
  serve                polls without a window until SIGTERM/SIGINT (or --for): history
                       in the working folder's history.sqlite, alarms and link on stderr
  history export       readings from the history over --from..--to: CSV (default) or
                       --trend (the trend file format) on stdout or into --output FILE
  history controllers  the history's controllers: number, code, address, port, firmware
  events               the history's events, oldest first (--json: one object per line)

Settings: sensor.N.threshold1, sensor.N.threshold2, sensor.N.hysteresis, sensor.N.relay1,
  sensor.N.relay2 (the relays of thresholds 1 and 2), relay.N.mode, relay.N.on-delay,
  relay.N.off-delay, relay.N.link-timeout, connect.channel

Options:
  --port PORT          COMn, a device path, tcp://HOST:PORT or mbtcp://HOST:PORT
                       (else [connect] port of start.ini)
  --address N          module address 1..247          --baud 9600..115200
  --parity none|even|odd                             --stopbits 1|2
  --timeout MS         wait for an answer, ms, 1..65535 (else [connect] receive); over a
                       network the wait grows with the measured answer time, never below it
  --retries N          attempts per request, 1..10 (default 3)
  --ini FILE           program settings file (default ./start.ini)
  --workdir DIR        working folder (start.ini, default.ini, Cfg/); a new one gets the
                       shipped files. Without it: the current folder when it holds
                       start.ini, else the user's folder the window uses from the menu
  --json               output as JSON (watch, trend: one object per line); any
                       command's failure: an object {"error", "exit", "message"} on stdout
  --lang ru|en         language of the messages (else [language] lang of start.ini)
  --count N            watch: lines, record: rows; then exit
  --period S           watch, record: seconds between lines (record: default [trends]
                       time); the poll keeps its pace, a line shows the latest values
  --for TIME           watch, record, serve: run this long (30s, 10m, 2h, 1d), then
                       exit 0
  --no-history         watch, record, write-profile, set: leave the working folder's
                       history alone (writes to the controller go to its audit trail)
  --mqtt URL           serve: the readings to an MQTT broker (mqtt://HOST:PORT or
                       mqtts://HOST:PORT), the rest from [mqtt] of start.ini; read-only
  --from, --to TIME    history export (--from required), events: ISO 8601, local
                       (2026-12-08T07:30, a date: its midnight) or with offset/Z; now,
                       -2h (back from now); --to defaults to now
  --controller N       history export, events: a controller of the history (history
                       controllers); export without it: the history's only one
  --csv, --trend       history export: the format; --output FILE: a file, not stdout
  --alarms             events: alarms only
  --ids                read-profile: store sensor IDs (else [profile] doid)
  --dry-run            write-profile: only print the frames (hex), send nothing
  --diff               write-profile: only print what would change, send nothing
  --no-connect         write-profile: leave the connection settings alone
  --help, --version
)") + PlantHelp(settings) +
           FixedText(settings, uR"(
Коды выхода: 0 успешно, 2 неверный вызов, 3 порт не задан или не открыт, 4 нет ответа,
5 не QOR7070 или нет конфигурации для прошивки, 6 файл отвергнут,
7 контроллер отверг или не подтвердил запись, 8 прервано до окончания работы.
Ключи ошибок (--json): usage, unknown-setting (2), port-not-set, port-unusable (3),
no-answer (4), not-qor7070, no-configuration (5), file-refused, value-refused (6),
write-failed, read-back-differs (7), interrupted (8).
)",
                     R"(
Exit codes: 0 ok, 2 usage, 3 no port set or port cannot be opened, 4 no answer,
5 not a QOR7070 or no configuration for its firmware, 6 file refused,
7 the controller refused or did not confirm a write, 8 interrupted before done.
Error keys (--json): usage, unknown-setting (2), port-not-set, port-unusable (3),
no-answer (4), not-qor7070, no-configuration (5), file-refused, value-refused (6),
write-failed, read-back-differs (7), interrupted (8).
)");
}
