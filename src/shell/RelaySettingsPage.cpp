#include "RelaySettingsPage.h"

#include "GridView.h"
#include "MainState.h"
#include "Message.h"
#include "SensorRows.h"
#include "SettingsValidation.h"
#include "TextGrid.h"
#include "Widgets.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

RelaySettingsPage::RelaySettingsPage(MainState &state, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetRelaySettings"), state, parent)
{
    MainState &s = m_state;
    auto *page = new QVBoxLayout(ScrolledBody());
    auto table = [&](const char *boxName, const char *title, const char *gridName, TextGrid &grid,
                     GridView *&view) {
        auto *box = named(new QGroupBox(QString::fromUtf8(title)), QString::fromLatin1(boxName));
        view = new GridView(QString::fromLatin1(gridName), grid, box);
        settingsLook(view, 16, true, 155);
        (new QVBoxLayout(box))->addWidget(view);
        box->setMinimumHeight(145);
        box->setMaximumWidth(900);
        return box;
    };
    GroupBox24 = table("GroupBox24", "Из контроллера", "StringGridRelaySettings", s.relaySettings,
                       StringGridRelaySettings);
    StringGridRelaySettings->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridRelaySettings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GroupBox28 = table("GroupBox28", "Пользователь", "StringGridRelaySettingsUser",
                       s.relaySettingsUser, StringGridRelaySettingsUser);
    StringGridRelaySettingsUser->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ButtonCopyRelaySettingsToUser = namedButton(
        "ButtonCopyRelaySettingsToUser", "Копировать таблицу контроллера в Таблицу пользователя");
    ButtonDownloadRelaySettingsToQor =
        namedButton("ButtonDownloadRelaySettingsToQor", "Загрузить новые данные в контроллер");
    Memo1 = namedMemo("Memo1");
    Memo1->setFixedHeight(145);
    Memo1->setMinimumWidth(240);
    Memo1->setMaximumWidth(520);
    page->addWidget(GroupBox24);
    auto *copyRow = new QHBoxLayout;
    copyRow->addSpacing(160);
    copyRow->addWidget(ButtonCopyRelaySettingsToUser);
    copyRow->addStretch();
    page->addLayout(copyRow);
    page->addWidget(GroupBox28);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Memo1);
    bottom->addWidget(ButtonDownloadRelaySettingsToQor, 0, Qt::AlignTop);
    bottom->addStretch();
    page->addLayout(bottom);
    page->addStretch();
    connect(ButtonCopyRelaySettingsToUser, &QPushButton::clicked, this,
            &RelaySettingsPage::ButtonCopyRelaySettingsToUserClick);
    connect(ButtonDownloadRelaySettingsToQor, &QPushButton::clicked, this,
            &RelaySettingsPage::ButtonDownloadRelaySettingsToQorClick);
}

QString RelaySettingsPage::Caption() const
{
    return Text("n33", "Настройки реле");
}

void RelaySettingsPage::ApplyCaptions()
{
    GroupBox24->setTitle(Text("n17", "Из контроллера"));
    GroupBox28->setTitle(Text("n18", "Пользователь"));
    ButtonCopyRelaySettingsToUser->setText(
        Text("n19", "Копировать таблицу контроллера в Таблицу пользователя"));
    ButtonDownloadRelaySettingsToQor->setText(Text("n21", "Загрузить новые данные в контроллер"));
    const QString section = QStringLiteral("Memo1_lang") +
                            QString::number(m_state.settingsIni.readInteger("language", "lang", 0));
    Memo1->setPlainText(m_state.settingsIni.sectionLines(section).join(u'\n'));
}

void RelaySettingsPage::Shown()
{
    m_state.RelaySettingsShown();
}

void RelaySettingsPage::ApplyAccessMode(bool full)
{
    if (full)
        return;
    for (QWidget *w : std::initializer_list<QWidget *>{ButtonCopyRelaySettingsToUser, GroupBox28,
                                                       ButtonDownloadRelaySettingsToQor})
        w->hide();
}

void RelaySettingsPage::ButtonCopyRelaySettingsToUserClick()
{
    CopyRelayRows(m_state.relaySettings, m_state.relaySettingsUser);
}

void RelaySettingsPage::ButtonDownloadRelaySettingsToQorClick()
{
    m_state.RequestRelayWrite([](const QString &c, const QString &t) {
        ShowMessageBox(c, t, MessageIcon::None);
    });
}
