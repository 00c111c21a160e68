#pragma once
#include <QString>

// The files a first start needs (start.ini, default.ini, Cfg/) ship in one folder:
// <prefix>/share/velmaris when installed, found relative to the running program so an
// unpacked package works anywhere; the source tree's data/ for a program run from its
// build folder. Empty when neither is there.
QString ShippedDataDir();

// Makes dir the working folder, creating it when missing. A folder without start.ini is
// seeded first with the shipped start.ini, default.ini and Cfg/; files already there are
// never replaced. False with a reason in error when that cannot be done.
bool EnterWorkingFolder(const QString &dir, QString *error);
