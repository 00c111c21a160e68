#include "Psw.h"

#include "Message.h"
#include "ShellTexts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TForm3::TForm3(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setEchoMode(QLineEdit::Password);
    ButtonOK = new QPushButton(this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    ButtonCancel = new QPushButton(this);
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
    ApplyLanguage([](const TextKey &key) { return QString::fromUtf16(key.russian); });
}

void TForm3::ApplyLanguage(const std::function<QString(const TextKey &)> &text)
{
    setWindowTitle(text(Msg::n429));
    Label1->setText(text(Msg::n430));
    ButtonOK->setText(text(Msg::n431));
    ButtonCancel->setText(text(Msg::n432));
    m_refusalCaption = text(Msg::n67);
    m_refusal = text(Msg::n433);
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
        ShowMessageBox(m_refusalCaption, m_refusal, MessageIcon::Error);
        Edit1->setFocus();
        return;
    }
    accept();
}
