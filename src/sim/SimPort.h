#pragma once
#include "SimController.h"

#include <QString>

// The simulator's end of the serial line: a pseudo-terminal it creates, or a serial device.
struct SimPort {
    int fd = -1;      // where requests are read and answers written
    int holdFd = -1;  // the pty's other end, kept open so the line never hangs up
    QString path;     // what the program opens
    bool pty = false;

    bool openPty(QString *error);
    bool openDevice(const QString &devicePath, QString *error);
    // Speed, parity and stop bits. A pty carries no parity or stop bits, so there they are
    // only recorded (*note says so); a device that refuses a setting gives false.
    bool applyLine(const LineSettings &line, QString *note);
    void close();
};
