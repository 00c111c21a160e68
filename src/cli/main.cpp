// velmaris-cli: the QOR7070 controller from a script, over the engine of the window.
#include "CliOptions.h"
#include "Commands.h"
#include "ConsoleView.h"
#include "ExitCodes.h"
#include "MemIniFile.h"
#include "Session.h"
#include "SettingsMessage.h"

#include <QCoreApplication>
#include <QDir>

namespace {

// The settings file the options name, read only for the language of the messages that
// come before the session (usage faults, --help).
MemIniFile LanguageSettings(const QStringList &args) {
    QString ini = QStringLiteral("start.ini");
    QString workdir;
    for (qsizetype i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--ini"))
            ini = args[i + 1];
        else if (args[i] == QLatin1String("--workdir"))
            workdir = args[i + 1];
    }
    if (!workdir.isEmpty() && QDir::isRelativePath(ini))
        ini = QDir(workdir).filePath(ini);
    return MemIniFile(ini);
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
    // Like the window, everything is found relative to the working folder.
    if (!options.workdir.isEmpty() && !QDir::setCurrent(options.workdir)) {
        PrintErr(FixedText(language, u"Нет такой папки: ", "No such folder: ") + options.workdir);
        return ExitCode::Usage;
    }

    ConsoleView view;
    Session session(view, options);
    if (!session.SettingsReadable())
        return ExitCode::FileRefused;
    CatchInterrupts(session);
    const QString &c = options.command;
    if (c == QLatin1String("identify"))
        return RunIdentify(session, options);
    if (c == QLatin1String("watch"))
        return RunWatch(session, options);
    if (c == QLatin1String("read-profile"))
        return RunReadProfile(session, options);
    if (c == QLatin1String("write-profile"))
        return RunWriteProfile(session, options);
    return RunRecord(session, options);
}
