#include "Message.h"

#include <QMessageBox>

void ShowMessageBox(const QString &caption, const QString &text, MessageIcon icon)
{
    auto *box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(caption);
    box->setText(text);
    switch (icon) {
    case MessageIcon::None: box->setIcon(QMessageBox::NoIcon); break;
    case MessageIcon::Error: box->setIcon(QMessageBox::Critical); break;
    case MessageIcon::Warning: box->setIcon(QMessageBox::Warning); break;
    case MessageIcon::Information: box->setIcon(QMessageBox::Information); break;
    }
    box->setStandardButtons(QMessageBox::Ok);
    box->show();
}
