#pragma once
#include <QString>
#include <functional>

class MemIniFile;
class QFileDialog;
class QWidget;

// Asks for a file to write (the dialog is opened with open(), no loop nests); when the
// chosen file exists, our own box asks before it is replaced. save(path) runs once the
// name is settled and returns false with the reason, which is then shown. The dialog is
// named dialogName (tests find it) and returned.
QFileDialog *AskFileToWrite(QWidget *parent, const MemIniFile &settings, const QString &dialogName,
                            const QString &title, const QString &filter, const QString &suffix,
                            const QString &proposed,
                            std::function<bool(const QString &path, QString *error)> save);
