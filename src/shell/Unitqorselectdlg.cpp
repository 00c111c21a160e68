#include "Unitqorselectdlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TFormQorSelectSensors::TFormQorSelectSensors(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormQorSelectSensors"));
    setWindowTitle(QStringLiteral("Выбор датчиков для редактирования"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint);
    GroupBox1 = new QGroupBox(QStringLiteral("Выбор"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto *grid = new QGridLayout(GroupBox1);
    for (int k = 1; k <= kBoxes; ++k) {
        auto *box = new QCheckBox(QStringLiteral("CheckBox%1").arg(k), GroupBox1);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(k));
        box->setMinimumWidth(97);
        grid->addWidget(box, (k - 1) % 6, (k - 1) / 6); // columns top to bottom
        sensorCheckBoxes[k - 1] = box;
    }
    auto button = [this](const char *name, const char *text) {
        auto *b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    ButtonConfirmSelection = button("ButtonConfirmSelection", "ОК");
    ButtonCancelSelection = button("ButtonCancelSelection", "Отмена");
    ButtonQorSelectAll = button("ButtonQorSelectAll", "Выбрать все датчики");
    ButtonQorDeselectAll = button("ButtonQorDeselectAll", "Убрать выбор со всех датчиков");
    connect(ButtonConfirmSelection, &QPushButton::clicked, this, [this] {
        selectionConfirmed = true;
        accept();
    });
    connect(ButtonCancelSelection, &QPushButton::clicked, this, [this] {
        selectionConfirmed = false;
        reject();
    });
    // The close box is a Cancel too: an earlier OK is never repeated by accident.
    connect(this, &QDialog::rejected, this, [this] { selectionConfirmed = false; });
    connect(ButtonQorSelectAll, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < m_maxSensors; ++i)
            sensorCheckBoxes[i]->setChecked(true);
    });
    connect(ButtonQorDeselectAll, &QPushButton::clicked, this, [this] {
        for (int i = 0; i < m_maxSensors; ++i)
            sensorCheckBoxes[i]->setChecked(false);
    });

    auto *side = new QVBoxLayout;
    side->addWidget(ButtonConfirmSelection);
    side->addWidget(ButtonCancelSelection);
    side->addStretch();
    auto *upper = new QHBoxLayout;
    upper->addWidget(GroupBox1);
    upper->addLayout(side);
    auto *lower = new QHBoxLayout;
    lower->addWidget(ButtonQorDeselectAll);
    lower->addStretch();
    lower->addWidget(ButtonQorSelectAll);
    lower->addSpacing(90);
    auto *top = new QVBoxLayout(this);
    top->addLayout(upper);
    top->addLayout(lower);
}

void TFormQorSelectSensors::Prepare(const QString &sensorWord, int maxSensors)
{
    m_maxSensors = qBound(0, maxSensors, kBoxes);
    for (int k = 1; k <= m_maxSensors; ++k)
        sensorCheckBoxes[k - 1]->setText(sensorWord + u' ' + QString::number(k));
}

void TFormQorSelectSensors::ApplyLanguage(
    const std::function<QString(const char *, const char *)> &text)
{
    setWindowTitle(text("n61", "Выбор датчиков для редактирования"));
    GroupBox1->setTitle(text("n62", "Выбор"));
    ButtonQorDeselectAll->setText(text("n63", "Убрать выбор со всех датчиков"));
    ButtonQorSelectAll->setText(text("n64", "Выбрать все датчики"));
    ButtonConfirmSelection->setText(text("n65", "ОК"));
    ButtonCancelSelection->setText(text("n66", "Отмена"));
}
