#include "ProfilePaths.h"

#include "MemIniFile.h"

#include <QFileInfo>

bool ProfileStoresIds(const MemIniFile &settingsIni)
{
    return settingsIni.readInteger(ProfileKeys::section, ProfileKeys::doid, 0) != 0;
}

QString ProfileFolderOf(const QString &path)
{
    const qsizetype cut = qMax(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    return cut < 0 ? QString() : path.left(cut);
}

QString ProfileSaveDialogFolder(const MemIniFile &settingsIni, const QString &currentDir)
{
    const QString saved =
        settingsIni.readString(ProfileKeys::section, ProfileKeys::save, currentDir);
    return saved == currentDir ? saved : ProfileFolderOf(saved);
}

QString ProfileTargetPath(const QString &chosen)
{
    return chosen.endsWith(QStringLiteral(".txt"), Qt::CaseInsensitive)
               ? chosen
               : chosen + QStringLiteral(".txt");
}

bool ProfileTargetNeedsOverwritePrompt(const QString &chosen)
{
    const QString target = ProfileTargetPath(chosen);
    return target != chosen && QFileInfo::exists(target);
}
