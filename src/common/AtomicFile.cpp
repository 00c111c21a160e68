#include "AtomicFile.h"

#include <QSaveFile>

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    // Unbuffered, so that a short write is seen here: a buffered file device writes on its
    // last flush, and a failure there was committed and reported as success.
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    for (qint64 done = 0; ok && done < bytes.size();) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        ok = n > 0;
        done += n;
    }
    if (ok && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false; // the save file, not committed, removes its temporary file
}
