#pragma once
// A working folder as the program finds it on first start, [connect] aimed at the pty.
// The benchmark that includes this defines VELMARIS_SOURCE_DIR.
#include "MemIniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

inline bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

inline bool prepareFolder(const QTemporaryDir &dir, const QString &pty, int speedIndex)
{
    const QString data = QStringLiteral(VELMARIS_SOURCE_DIR "/data/");
    if (!QDir().mkpath(dir.filePath("Cfg")))
        return false;
    for (const QString &name : QDir(data + "Cfg").entryList({"*.ini"}, QDir::Files))
        if (!copyFile(data + "Cfg/" + name, dir.filePath("Cfg/" + name)))
            return false;
    if (!copyFile(data + "default.ini", dir.filePath("default.ini")) ||
        !copyFile(data + "start.ini", dir.filePath("start.ini")))
        return false;
    MemIniFile start(dir.filePath("start.ini"));
    start.writeString("connect", "port", pty);
    start.writeInteger("connect", "speed", speedIndex);
    start.writeInteger("connect", "parity", 0);   // a pty carries no parity
    start.writeInteger("connect", "stopbits", 0); // one stop bit
    start.writeInteger("connect", "sleep", 0);
    return start.updateFile();
}
