#include "CliOptions.h"

#include "CliTexts.h"
#include "IntText.h"
#include "MemIniFile.h"
#include "SettingsMessage.h"
#include "TrendRecorder.h"

namespace {

const QStringList kCommands{QStringLiteral("identify"), QStringLiteral("watch"),
                            QStringLiteral("read-profile"), QStringLiteral("write-profile"),
                            QStringLiteral("record")};

// Options followed by a value; any other "--name" that is no flag is unknown.
const QStringList kValueOptions{"--port",     "--ini",   "--workdir", "--address",
                                "--baud",     "--parity", "--stopbits", "--count",
                                "--period",   "--timeout", "--retries"};

// Options that only some subcommands take; every other option applies to all of them.
const QList<std::pair<QString, QStringList>> kCommandOptions{
    {"--json", {"identify", "watch"}},
    {"--count", {"watch", "record"}},
    {"--period", {"record"}},
    {"--ids", {"read-profile"}},
    {"--dry-run", {"write-profile"}},
    {"--no-connect", {"write-profile"}}};

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

} // namespace

bool ParseCliOptions(const QStringList &args, CliOptions &o, QString *error,
                     const MemIniFile &settings) {
    const auto fail = [&](const char16_t *russian, const char *english, const QString &what) {
        *error = FixedText(settings, russian, english) + what;
        return false;
    };
    QStringList positional;
    QStringList given; // the options, for checking them against the subcommand
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
        if (arg.startsWith(u'-') && arg.size() > 1)
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
        } else if (arg == QLatin1String("--no-connect")) {
            if (!flag(o.noConnect))
                return fail(u"Параметр без значения: ", "Option takes no value: ", arg);
        } else if (arg.startsWith(u'-') && arg.size() > 1 && !kValueOptions.contains(arg)) {
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
    const bool wantsFile =
        o.command.endsWith(QLatin1String("-profile")) || o.command == QLatin1String("record");
    if (wantsFile) {
        if (positional.isEmpty())
            return fail(u"Не указан файл команды ", "No file given to ", o.command);
        o.file = positional.takeFirst();
    }
    if (!positional.isEmpty())
        return fail(u"Лишний аргумент: ", "Unexpected argument: ", positional.first());
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
}

QString CliHelpText(const MemIniFile &settings) {
    return FixedText(settings, uR"(Использование: velmaris-cli КОМАНДА [ФАЙЛ] [параметры]

Контроллер QOR7070 из сценария: тот же механизм, что и в окне Velmaris.

Команды:
  identify             код устройства, версии прошивки и оборудования
  watch                данные датчиков и состояние реле, строка за циклом опроса
  read-profile ФАЙЛ    настройки контроллера в файл профиля
  write-profile ФАЙЛ   профиль в контроллер (только отличия от того, что в нём есть)
  record ФАЙЛ          файл тренда, строка раз в --period секунд

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
  --json               identify и watch: JSON (watch: объект на строку)
  --count N            watch: циклов, record: строк; затем выход
  --period S           record: секунд между строками (по умолчанию [trends] time)
  --ids                read-profile: сохранить номера датчиков (иначе [profile] doid)
  --dry-run            write-profile: только показать кадры (hex), ничего не посылать
  --no-connect         write-profile: не записывать настройки связи
  --help, --version

Коды выхода: 0 успешно, 2 неверный вызов, 3 порт не задан или не открыт, 4 нет ответа,
5 не QOR7070 или нет конфигурации для прошивки, 6 файл отвергнут,
7 контроллер отверг или не подтвердил запись, 8 прервано до окончания работы.
)",
                     R"(Usage: velmaris-cli COMMAND [FILE] [options]

A QOR7070 controller from a script: the same engine as the Velmaris window.

Commands:
  identify             device code, firmware and hardware versions
  watch                live sensor data and relay states, one line per poll cycle
  read-profile FILE    the controller's settings into a profile file
  write-profile FILE   a profile into the controller (only what differs from it)
  record FILE          a trend file, one row every --period seconds

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
  --json               identify and watch: JSON (watch: one object per line)
  --count N            watch: cycles, record: rows; then exit
  --period S           record: seconds between rows (default [trends] time)
  --ids                read-profile: store sensor IDs (else [profile] doid)
  --dry-run            write-profile: only print the frames (hex), send nothing
  --no-connect         write-profile: leave the connection settings alone
  --help, --version

Exit codes: 0 ok, 2 usage, 3 no port set or port cannot be opened, 4 no answer,
5 not a QOR7070 or no configuration for its firmware, 6 file refused,
7 the controller refused or did not confirm a write, 8 interrupted before done.
)");
}
