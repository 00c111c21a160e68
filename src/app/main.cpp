#include "Main.h"
#include "MemIniFile.h"
#include "PlantView.h"
#include "ShippedData.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstring>

namespace {

const char kHelpRussian[] = R"(Использование: velmaris [--workdir ПАПКА] [--plant] [параметры Qt]

Настройка и наблюдение контроллера температуры QOR7070 по Modbus RTU.

Программа хранит свои файлы (start.ini, default.ini, Cfg/, Trends/, профили) в рабочей
папке.
  --workdir ПАПКА  сначала перейти в ПАПКУ (создаётся, если её нет); папка без start.ini
                   заполняется поставляемыми start.ini, default.ini и Cfg/
  --plant          окно установки: все контроллеры из plant.ini рабочей папки сразу;
                   двойной щелчок по строке открывает окно контроллера
  --help           этот текст
  --version        версия программы
)";

const char kHelp[] = R"(Usage: velmaris [--workdir DIR] [--plant] [Qt options]

Configures and watches a QOR7070 temperature controller over Modbus RTU.

The program keeps its files (start.ini, default.ini, Cfg/, Trends/, profiles) in its
working folder.
  --workdir DIR   change to DIR first (created when missing); a DIR without start.ini is
                  seeded with the shipped start.ini, default.ini and Cfg/
  --plant         the plant view: every controller of the working folder's plant.ini at
                  once; a double-click on a row opens that controller's window
  --help          this text
  --version       the program's version
)";

struct Options {
    QString workdir;
    bool plant = false;
    bool done = false; // --help or --version answered
    int status = 0;
};

// The help follows the language of the start.ini the run would use, as velmaris-cli's
// does: that of --workdir, else of the current folder; Russian unless lang is 1.
const char *helpText(int argc, char *argv[]) {
    QString ini = QStringLiteral("start.ini");
    for (int i = 1; i + 1 < argc; ++i)
        if (!strcmp(argv[i], "--workdir"))
            ini = QString::fromLocal8Bit(argv[i + 1]) + QStringLiteral("/start.ini");
    const MemIniFile settings(ini);
    return settings.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0) == 1
               ? kHelp
               : kHelpRussian;
}

// Ours are read before QApplication exists, so --help works without a display.
Options parseOptions(int argc, char *argv[]) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            fputs(helpText(argc, argv), stdout);
            o.done = true;
        } else if (!strcmp(argv[i], "--version")) {
            printf("velmaris %s\n", VELMARIS_VERSION);
            o.done = true;
        } else if (!strcmp(argv[i], "--plant")) {
            o.plant = true;
        } else if (!strcmp(argv[i], "--workdir")) {
            if (i + 1 >= argc) {
                fputs("velmaris: --workdir wants a folder (see --help)\n", stderr);
                o.done = true;
                o.status = 2;
                return o;
            }
            o.workdir = QString::fromLocal8Bit(argv[++i]);
        }
    }
    return o;
}

} // namespace

int main(int argc, char *argv[])
{
    const Options options = parseOptions(argc, argv);
    if (options.done)
        return options.status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmaris"));
    QApplication::setApplicationVersion(QStringLiteral(VELMARIS_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/velmaris.png")));
    if (!options.workdir.isEmpty()) {
        QString error;
        if (!EnterWorkingFolder(options.workdir, &error)) {
            fprintf(stderr, "velmaris: %s\n", qPrintable(error));
            return 1;
        }
    }
    if (options.plant) {
        PlantView view;
        view.show();
        view.Start();
        return app.exec();
    }
    TForm1 form;
    form.RestoreWindowGeometry();
    form.ShowAsStored();
    return app.exec();
}
