#pragma once
#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes in one step: a temporary file in the same folder is
// written whole, then renamed over the old one. False, with a reason, when any byte could
// not be written (a full disk, a file-size limit) or the rename failed; the old file is
// then left as it was and the temporary file removed.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);
