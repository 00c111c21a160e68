#pragma once
#include <QByteArray>
#include <QString>

class QFileDevice;

// Replaces the file at path with bytes in one step: a temporary file in the same folder is
// written whole, then renamed over the old one. False, with the system's reason, when any
// byte could not be written (a full disk, a file-size limit) or the rename failed; the old
// file is then left as it was and the temporary file removed. A path that names a device
// (or a pipe) is written in place: it cannot be replaced.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Writes all of bytes to a file opened unbuffered. A short write (a disk filling up) is
// continued, so that the call that fails is the one that says why: Qt gives a short write
// no reason of its own and shows "Unknown error". False, with the system's reason.
bool WriteWhole(QFileDevice &file, const QByteArray &bytes, QString *error = nullptr);

// The reason of a failed call on file: the system's text of errorCode (errno taken right
// after the call) when there is one, else the file's own error string.
QString FileFailureText(const QFileDevice &file, int errorCode);
