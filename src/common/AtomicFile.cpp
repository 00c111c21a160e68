#include "AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

QString FileFailureText(const QFileDevice &file, int errorCode)
{
    return errorCode != 0 ? qt_error_string(errorCode) : file.errorString();
}

bool WriteWhole(QFileDevice &file, const QByteArray &bytes, QString *error)
{
    for (qint64 done = 0; done < bytes.size();) {
        errno = 0;
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            const int code = errno;
            if (error)
                *error = FileFailureText(file, code);
            return false;
        }
        done += n;
    }
    return true;
}

namespace {

bool fail(const QFileDevice &file, int code, QString *error)
{
    if (error)
        *error = FileFailureText(file, code);
    return false;
}

// A device cannot be replaced: renaming a file over it would leave a plain file where the
// device was (a program run as root may do that).
bool writeInPlace(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile device(path);
    if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(device, 0, error);
    return WriteWhole(device, bytes, error);
}

// Some file systems (network ones, quotas) report a full disk only when the data reaches
// it; QSaveFile's own sync ignores that failure.
bool syncToDisk(const QFileDevice &file, QString *error)
{
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP)
        return fail(file, errno, error);
#else
    Q_UNUSED(file);
    Q_UNUSED(error);
#endif
    return true;
}

} // namespace

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile() && !target.isDir())
        return writeInPlace(path, bytes, error);
    // Unbuffered, so that a short write is seen here: a buffered file device writes on its
    // last flush, and a failure there was committed and reported as success.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file, 0, error); // Qt's text of an open or a rename is the system's
    if (!WriteWhole(file, bytes, error) || !syncToDisk(file, error))
        return false; // the save file, not committed, removes its temporary file
    if (!file.commit())
        return fail(file, 0, error);
    return true;
}
