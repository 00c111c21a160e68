#include "ControllerFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

QString ShippedFile(const QString &name)
{
    return QStringLiteral(VELMARIS_SOURCE_DIR "/data/") + name;
}

bool CopyShippedData(const QStringList &names, const QString &into)
{
    const QDir dir(into);
    for (const QString &name : names) {
        const QString target = dir.filePath(name);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(ShippedFile(name), target)) {
            qWarning("could not copy %s to %s", qPrintable(name), qPrintable(target));
            return false;
        }
    }
    return true;
}

bool StartShippedSim(SimProcess &sim, QStringList arguments)
{
    if (!arguments.contains(QStringLiteral("--cfg")))
        arguments << QStringLiteral("--cfg") << ShippedFile(QStringLiteral("Cfg/qor7070__fw_1_2.ini"));
    return sim.start(arguments);
}

void ControllerFolderTest::init()
{
    sim.setTransport(SimProcess::Transport::Pty); // a test over another one says so
    folder = std::make_unique<WorkingFolder>();
    QVERIFY(folder->isValid());
}

void ControllerFolderTest::cleanup()
{
    sim.stop();
    folder.reset();
}
