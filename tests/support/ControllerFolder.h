#pragma once
#include "SimProcess.h"
#include "WorkingFolder.h"

#include <QObject>
#include <QStringList>
#include <memory>

// A data file as shipped with the program ("Cfg/qor7070__fw_1_2.ini", "start.ini", ...).
QString ShippedFile(const QString &name);

// Copies shipped data files, keeping their relative paths, into a folder (the working
// directory when none is named). False, with a warning naming the file, on the first
// that could not be copied.
bool CopyShippedData(const QStringList &names, const QString &into = QStringLiteral("."));

// Starts the simulator on a pty serving the shipped map of firmware 1.2, unless the
// arguments name a map of their own.
bool StartShippedSim(SimProcess &sim, QStringList arguments = {});

// Base of the tests that run the program against the simulator: every test function
// gets a fresh working folder, and the simulator is stopped after it.
class ControllerFolderTest : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<WorkingFolder> folder; // one per test
    SimProcess sim;

private slots:
    void init();
    void cleanup();
};
