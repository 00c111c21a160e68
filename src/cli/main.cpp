// velmaris-cli: the QOR7070 controller from a script, over the engine of the window.
#include "CliOptions.h"
#include "CliTexts.h"
#include "Commands.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "MemIniFile.h"
#include "PlantCommands.h"
#include "PlantConfig.h"
#include "Session.h"
#include "SettingsMessage.h"
#include "ShippedData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// The window's own folder for this user, where its launcher starts it.
QString UserWorkingFolder() {
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Velmaris"));
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QCoreApplication::setApplicationName(name);
    return dir;
}

// The settings file the run will use, read only for the language of the messages that
// come before the session (usage faults, --help): the one the options name, else
// ./start.ini, else the user's folder's (see EnterFolder).
MemIniFile LanguageSettings(const QStringList &args) {
    QString ini = QStringLiteral("start.ini");
    QString workdir, plant;
    bool iniGiven = false;
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--ini")) {
            ini = args[i + 1];
            iniGiven = true;
        } else if (args[i] == QLatin1String("--workdir")) {
            workdir = args[i + 1];
        } else if (args[i] == QLatin1String("--plant")) {
            plant = args[i + 1];
        }
    }
    if (!plant.isEmpty() && workdir.isEmpty()) // the plant's folder is the working folder
        workdir = QFileInfo(plant).absolutePath();
    if (!workdir.isEmpty() && QDir::isRelativePath(ini))
        ini = QDir(workdir).filePath(ini);
    else if (workdir.isEmpty() && !iniGiven && !QFileInfo::exists(ini))
        ini = QDir(UserWorkingFolder()).filePath(ini);
    MemIniFile settings(ini);
    if (const auto lang = LanguageOption(args))
        settings.writeInteger(QStringLiteral("language"), QStringLiteral("lang"), *lang);
    return settings;
}

int RunCommand(Session &session, const CliOptions &options) {
    const QString &c = options.command;
    if (c == QLatin1String("identify"))
        return RunIdentify(session, options);
    if (c == QLatin1String("watch"))
        return RunWatch(session, options);
    if (c == QLatin1String("read-profile"))
        return RunReadProfile(session, options);
    if (c == QLatin1String("write-profile"))
        return RunWriteProfile(session, options);
    if (c == QLatin1String("get"))
        return RunGet(session, options);
    if (c == QLatin1String("set"))
        return RunSet(session, options);
    if (c == QLatin1String("serve"))
        return RunServe(session, options);
    return RunRecord(session, options);
}

// With --json a failure is also an object on stdout.
int Finish(const CliOptions &options, int code) {
    if (code != ExitCode::Ok && options.json)
        PrintJsonFailure(code);
    return code;
}

// Like the window, everything is found relative to the working folder: the one --workdir
// names (created and seeded when new), else the current one when it holds start.ini, else
// the window's per-user folder, so a script run anywhere uses the settings the user keeps
// there. A FILE argument stays relative to where the tool was started in that last case.
bool EnterFolder(CliOptions &options, const MemIniFile &language) {
    QString dir = options.workdir;
    if (dir.isEmpty()) {
        if (options.iniGiven || QFileInfo::exists(QStringLiteral("start.ini")))
            return true;
        if (!options.file.isEmpty())
            options.file = QFileInfo(options.file).absoluteFilePath();
        if (!options.output.isEmpty())
            options.output = QFileInfo(options.output).absoluteFilePath();
        dir = UserWorkingFolder();
    }
    QString error;
    if (EnterWorkingFolder(dir, &error))
        return true;
    PrintErr(FixedText(language, u"Рабочая папка недоступна: ", "Working folder unusable: ") +
             error);
    return false;
}

// A plant's working folder is the one --workdir names (plant.ini relative to it), else
// the folder of plant.ini; FILE stays relative to where the tool was started then. A
// plant.ini that is not there changes nothing: no folder is made or seeded for it.
int EnterPlantFolder(CliOptions &options, const MemIniFile &language) {
    QString plant = options.plant;
    if (!options.workdir.isEmpty() && QDir::isRelativePath(plant))
        plant = QDir(options.workdir).filePath(plant);
    const QFileInfo info(plant);
    if (!info.isFile()) { // the plant's own words for it
        PlantConfig none;
        QString why;
        ReadPlant(info.absoluteFilePath(), language, info.absolutePath(), none, why);
        const QString message = LookupText(language, Msg::n696) + why;
        NoteFailure(ErrorKey::FileRefused, message);
        PrintErr(message);
        return ExitCode::FileRefused;
    }
    options.plant = info.absoluteFilePath();
    if (options.workdir.isEmpty() && !options.file.isEmpty())
        options.file = QFileInfo(options.file).absoluteFilePath();
    const QString dir = options.workdir.isEmpty() ? info.absolutePath() : options.workdir;
    QString error;
    if (EnterWorkingFolder(dir, &error))
        return ExitCode::Ok;
    PrintErr(FixedText(language, u"Рабочая папка недоступна: ", "Working folder unusable: ") +
             error);
    return ExitCode::Usage;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmaris-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMARIS_VERSION));
    const QStringList args = app.arguments().mid(1);
    const MemIniFile language = LanguageSettings(args);

    CliOptions options;
    QString error;
    if (!ParseCliOptions(args, options, &error, language)) {
        PrintErr(error);
        if (args.contains(QStringLiteral("--json")))
            PrintJsonFailure(ExitCode::Usage);
        PrintErr(QStringLiteral("velmaris-cli --help"));
        return ExitCode::Usage;
    }
    if (options.help) {
        PrintOut(CliHelpText(language));
        return ExitCode::Ok;
    }
    if (options.version) {
        PrintOut(QStringLiteral("velmaris-cli " VELMARIS_VERSION));
        return ExitCode::Ok;
    }
    if (options.command == QLatin1String("trend")) // a file where the tool was started
        return Finish(options, RunTrend(options, language));
    if (!options.plant.isEmpty()) {
        if (const int r = EnterPlantFolder(options, language))
            return Finish(options, r);
        return Finish(options, RunPlant(options));
    }
    if (!EnterFolder(options, language))
        return Finish(options, ExitCode::Usage);

    if (options.command == QLatin1String("history") ||
        options.command == QLatin1String("events")) { // the folder's store, no controller
        MemIniFile settings(options.ini);
        ApplyLineOptions(options, settings);
        return Finish(options, options.command == QLatin1String("events")
                                   ? RunEvents(options, settings)
                                   : RunHistory(options, settings));
    }

    ConsoleView view;
    Session session(view, options);
    if (!session.SettingsReadable())
        return Finish(options, ExitCode::FileRefused);
    CatchInterrupts(session);
    return Finish(options, RunCommand(session, options));
}
