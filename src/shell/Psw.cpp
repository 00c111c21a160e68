#include "Psw.h"

#include "Message.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm3::TForm3(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Вход с паролем"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    Label1 = new QLabel(QStringLiteral("Пароль"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setEchoMode(QLineEdit::Password);
    ButtonOK = new QPushButton(QStringLiteral("ОК"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Отмена"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    connect(ButtonOK, &QPushButton::clicked, this, &TForm3::ButtonOKClick);
    // Enter in Edit1 reaches the dialog, which clicks its default button ButtonOK; a second
    // path from returnPressed would check the password twice.
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *top = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    row->addWidget(Label1);
    row->addWidget(Edit1);
    top->addLayout(row);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCancel);
    top->addLayout(buttons);
}

void TForm3::showEvent(QShowEvent *event)
{
    accessLevel = 0;
    Edit1->clear();
    Edit1->setFocus();
    QDialog::showEvent(event);
}

void TForm3::ButtonOKClick()
{
    const QString entered = Edit1->text();
    if (entered == QLatin1String("7593")) {
        accessLevel = 1;
    } else if (entered == QLatin1String("5729")) {
        accessLevel = 2;
    } else {
        ShowMessageBox(QStringLiteral("Ошибка"), QStringLiteral("Неверный пароль"), MessageIcon::Error);
        Edit1->setFocus();
        return;
    }
    accept();
}
