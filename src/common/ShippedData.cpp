#include "ShippedData.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString executableDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Programs without an application object (the simulator) on Linux.
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? QFileInfo(self.symLinkTarget()).absolutePath() : QString();
}

bool hasStartIni(const QString &dir) {
    return !dir.isEmpty() && QFileInfo::exists(dir + QStringLiteral("/start.ini"));
}

// Copies what the folder lacks; an existing file may hold the user's own settings.
bool copyMissing(const QString &from, const QString &to, QString *error) {
    if (QFileInfo::exists(to))
        return true;
    if (QFile::copy(from, to)) {
        // Installed files are read-only; the copies are the user's to change.
        QFile::setPermissions(to, QFile::permissions(to) | QFile::WriteOwner);
        return true;
    }
    // Another program seeding the same folder at the same moment made it first.
    if (QFileInfo::exists(to))
        return true;
    *error = QStringLiteral("cannot copy %1 to %2").arg(from, to);
    return false;
}

bool seed(const QString &dir, QString *error) {
    const QString data = ShippedDataDir();
    if (data.isEmpty()) {
        *error = QStringLiteral("the shipped start.ini, default.ini and Cfg/ were not found");
        return false;
    }
    if (!QDir().mkpath(dir + QStringLiteral("/Cfg"))) {
        *error = QStringLiteral("cannot create %1/Cfg").arg(dir);
        return false;
    }
    const QDir cfg(data + QStringLiteral("/Cfg"));
    for (const QString &name : cfg.entryList({QStringLiteral("*.ini")}, QDir::Files))
        if (!copyMissing(cfg.filePath(name), dir + QStringLiteral("/Cfg/") + name, error))
            return false;
    // start.ini last: its presence is what marks a folder as seeded.
    return copyMissing(data + QStringLiteral("/default.ini"), dir + QStringLiteral("/default.ini"), error) &&
           copyMissing(data + QStringLiteral("/start.ini"), dir + QStringLiteral("/start.ini"), error);
}

} // namespace

QString ShippedDataDir() {
    const QString exe = executableDir();
    if (!exe.isEmpty()) {
        const QString installed =
            QDir::cleanPath(exe + QStringLiteral("/../" VELMARIS_INSTALL_DATA_DIR));
        if (hasStartIni(installed))
            return installed;
    }
    const QString source = QStringLiteral(VELMARIS_SOURCE_DATA_DIR);
    return hasStartIni(source) ? source : QString();
}

bool EnterWorkingFolder(const QString &dir, QString *error) {
    const QString path = QDir(dir).absolutePath();
    if (!QDir().mkpath(path)) {
        *error = QStringLiteral("cannot create the folder %1").arg(path);
        return false;
    }
    if (!hasStartIni(path) && !seed(path, error))
        return false;
    if (!QDir::setCurrent(path)) {
        *error = QStringLiteral("cannot change to the folder %1").arg(path);
        return false;
    }
    return true;
}
