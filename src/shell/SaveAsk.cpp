#include "SaveAsk.h"

#include "LookupText.h"
#include "Message.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

void SaveAndTell(const MemIniFile &settings, const QString &path,
                 const std::function<bool(const QString &, QString *)> &save)
{
    QString error;
    if (!save(path, &error))
        ShowMessageBox(LookupText(settings, "n67", QStringLiteral("Ошибка")),
                       LookupText(settings, "n336", QStringLiteral("Ошибка записи файла: ")) +
                           QDir::toNativeSeparators(path) + u'\n' + error,
                       MessageIcon::Error);
}

} // namespace

QFileDialog *AskFileToWrite(QWidget *parent, const MemIniFile &settings, const QString &dialogName,
                            const QString &title, const QString &filter, const QString &suffix,
                            const QString &proposed,
                            std::function<bool(const QString &path, QString *error)> save)
{
    auto *dialog = new QFileDialog(parent, title);
    dialog->setObjectName(dialogName);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // Qt's own overwrite question would nest a loop: ours is opened with open().
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(suffix);
    dialog->selectFile(proposed);
    const MemIniFile *ini = &settings;
    QObject::connect(dialog, &QFileDialog::finished, parent, [dialog, ini, parent, save](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty())
            return;
        const QString path = files.first();
        if (!QFileInfo::exists(path)) {
            SaveAndTell(*ini, path, save);
            return;
        }
        auto *box = new QMessageBox(QMessageBox::Warning, dialog->windowTitle(),
                                    LookupText(*ini, "n460",
                                               QStringLiteral("Файл %1 уже существует. Заменить его?"))
                                        .arg(QDir::toNativeSeparators(path)),
                                    QMessageBox::Yes | QMessageBox::No, parent);
        box->setObjectName(QStringLiteral("OverwriteBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setDefaultButton(QMessageBox::No);
        QObject::connect(box, &QMessageBox::finished, parent, [box, ini, path, save] {
            if (box->clickedButton() == box->button(QMessageBox::Yes))
                SaveAndTell(*ini, path, save);
        });
        box->open();
    });
    dialog->open();
    return dialog;
}
