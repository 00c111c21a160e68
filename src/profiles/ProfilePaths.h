#pragma once
#include <QString>

class MemIniFile;

// [profile] of start.ini: save = path of the profile last saved (where the save dialog
// opens), open = the current profile file, doid = 1 when profiles store sensor IDs.
namespace ProfileKeys {
inline const QString section = QStringLiteral("profile");
inline const QString save = QStringLiteral("save");
inline const QString open = QStringLiteral("open");
inline const QString doid = QStringLiteral("doid");
} // namespace ProfileKeys

// [profile] doid is not 0.
bool ProfileStoresIds(const MemIniFile &settingsIni);

// The folder part of a path, before its last "\" or "/"; empty when it has none.
QString ProfileFolderOf(const QString &path);

// Where the save dialog opens: the folder of [profile] save, or currentDir itself while
// nothing has been saved ([profile] save missing or equal to it).
QString ProfileSaveDialogFolder(const MemIniFile &settingsIni, const QString &currentDir);

// The file a save writes for the name chosen in the dialog: ".txt" appended unless the
// name already ends in it (any case), so the file confirmed in the dialog is the one
// written.
QString ProfileTargetPath(const QString &chosen);

// True when the target is another file than the one chosen and exists already: the
// dialog has not asked about it, so the shell must.
bool ProfileTargetNeedsOverwritePrompt(const QString &chosen);
