#include "ConnectSettingsPage.h"

#include "MainState.h"
#include "Message.h"
#include "SettingsValidation.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <span>

namespace {

const QStringList kBaudTexts = {"9600", "19200", "38400", "57600", "115200"};
const QStringList kParityTexts = {"нет / no", "чет / even", "нечет / odd"};
const QStringList kStopTexts = {"1", "2"};
const QStringList kMenuLanguageTexts = {"Русский", "English"};

QComboBox *combo(const QString &name, const QStringList &items, bool controller, QWidget *parent)
{
    auto *c = named(new QComboBox(parent), name);
    c->addItems(items);
    c->setCurrentIndex(-1);
    c->setInsertPolicy(QComboBox::NoInsert); // Enter never turns typed text into an item
    if (controller) {
        c->setEnabled(false);
        c->setEditable(true); // so that "---" can be shown
        c->lineEdit()->setReadOnly(true);
    } else {
        c->setEditable(true); // typed text is not a choice; only a list item counts
    }
    return c;
}

// A user-side combo box counts only a chosen list item: typed text is no choice.
int chosenItem(const QComboBox *box)
{
    const int i = box->currentIndex();
    return i >= 0 && box->currentText() == box->itemText(i) ? i : -1;
}

} // namespace

ConnectSettingsPage::ConnectSettingsPage(MainState &state, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetConnectSettings"), state, parent)
{
    auto *page = new QGridLayout(ScrolledBody());
    GroupBox29 = named(new QGroupBox(QStringLiteral("Настройки связи контроллер")), "GroupBox29");
    GroupBox25 = named(new QGroupBox(QStringLiteral("Настройки связи пользователь")), "GroupBox25");
    auto label = [](const char *name, const char *text) {
        return named(new QLabel(QString::fromUtf8(text)), QString::fromLatin1(name));
    };
    Label43 = label("Label43", "Адрес модуля");
    Label44 = label("Label44", "Скорость, бит/с");
    Label45 = label("Label45", "Паритет");
    Label47 = label("Label47", "Кол-во стоп-битов");
    Label46 = label("Label46", "Номер канала");
    Label48 = label("Label48", "Язык меню");
    Label35 = label("Label35", "Адрес модуля");
    Label37 = label("Label37", "Скорость, бит/с");
    Label38 = label("Label38", "Паритет");
    Label40 = label("Label40", "Кол-во стоп-битов");
    Label39 = label("Label39", "Номер канала");
    Label42 = label("Label42", "Язык меню");
    EditQorAddrContr = named(new QLineEdit, "EditQorAddrContr");
    EditQorChanContr = named(new QLineEdit, "EditQorChanContr");
    for (QLineEdit *e : {EditQorAddrContr, EditQorChanContr}) {
        e->setReadOnly(true);
        QPalette p = e->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Button));
        e->setPalette(p);
    }
    ComboBoxQorBaudRateContr = combo("ComboBoxQorBaudRateContr", kBaudTexts, true, this);
    ComboBoxQorParityContr = combo("ComboBoxQorParityContr", kParityTexts, true, this);
    ComboBoxQorStopsContr = combo("ComboBoxQorStopsContr", kStopTexts, true, this);
    ComboBoxQorMenuLanguageContr =
        combo("ComboBoxQorMenuLanguageContr", kMenuLanguageTexts, true, this);
    EditQorAddr = named(new QLineEdit, "EditQorAddr");
    EditQorChan = named(new QLineEdit, "EditQorChan");
    ComboBoxQorBaudRate = combo("ComboBoxQorBaudRate", kBaudTexts, false, this);
    ComboBoxQorParity = combo("ComboBoxQorParity", kParityTexts, false, this);
    ComboBoxQorStops = combo("ComboBoxQorStops", kStopTexts, false, this);
    ComboBoxQorMenuLanguage = combo("ComboBoxQorMenuLanguage", kMenuLanguageTexts, false, this);

    auto *fc = new QFormLayout(GroupBox29);
    fc->addRow(Label43, EditQorAddrContr);
    fc->addRow(Label44, ComboBoxQorBaudRateContr);
    fc->addRow(Label45, ComboBoxQorParityContr);
    fc->addRow(Label47, ComboBoxQorStopsContr);
    fc->addRow(Label46, EditQorChanContr);
    fc->addRow(Label48, ComboBoxQorMenuLanguageContr);
    auto *fu = new QFormLayout(GroupBox25);
    fu->addRow(Label35, EditQorAddr);
    fu->addRow(Label37, ComboBoxQorBaudRate);
    fu->addRow(Label38, ComboBoxQorParity);
    fu->addRow(Label40, ComboBoxQorStops);
    fu->addRow(Label39, EditQorChan);
    fu->addRow(Label42, ComboBoxQorMenuLanguage);
    for (QGroupBox *g : {GroupBox29, GroupBox25})
        g->setFixedSize(260, 259);
    ButtonQorCopyConnectToUser =
        named(new QPushButton(
                  QStringLiteral("Копировать настройки контроллера в настройки пользователя")),
              "ButtonQorCopyConnectToUser");
    ButtonWriteConnectSettingsToQor =
        named(new QPushButton(QStringLiteral("Загрузить новые данные в контроллер")),
              "ButtonWriteConnectSettingsToQor");
    page->addWidget(GroupBox29, 0, 0, Qt::AlignTop);
    page->addWidget(GroupBox25, 0, 1, Qt::AlignTop);
    page->addWidget(ButtonWriteConnectSettingsToQor, 0, 2, Qt::AlignTop);
    page->addWidget(ButtonQorCopyConnectToUser, 1, 0, 1, 2, Qt::AlignLeft | Qt::AlignTop);
    page->setColumnStretch(3, 1);
    page->setRowStretch(2, 1);
    connect(ButtonQorCopyConnectToUser, &QPushButton::clicked, this,
            &ConnectSettingsPage::ButtonQorCopyConnectToUserClick);
    connect(ButtonWriteConnectSettingsToQor, &QPushButton::clicked, this,
            &ConnectSettingsPage::ButtonWriteConnectSettingsToQorClick);
}

QString ConnectSettingsPage::Caption() const
{
    return Text("n40", "Настройки связи и языка устройства");
}

void ConnectSettingsPage::ApplyCaptions()
{
    GroupBox29->setTitle(Text("n41", "Настройки связи контроллер"));
    GroupBox25->setTitle(Text("n42", "Настройки связи пользователь"));
    ButtonQorCopyConnectToUser->setText(
        Text("n49", "Копировать настройки контроллера в настройки пользователя"));
    ButtonWriteConnectSettingsToQor->setText(Text("n21", "Загрузить новые данные в контроллер"));
    Label43->setText(Text("n43", "Адрес модуля"));
    Label44->setText(Text("n44", "Скорость, бит/с"));
    Label45->setText(Text("n45", "Паритет"));
    Label47->setText(Text("n46", "Кол-во стоп-битов"));
    Label46->setText(Text("n47", "Номер канала"));
    Label48->setText(Text("n48", "Язык меню"));
    Label35->setText(Label43->text());
    Label37->setText(Label44->text());
    Label38->setText(Label45->text());
    Label40->setText(Label47->text());
    Label39->setText(Label46->text());
    Label42->setText(Label48->text());
    auto texts = [this](std::span<const TextKey> keys) {
        QStringList out;
        for (const TextKey &k : keys)
            out << m_state.Text(k);
        return out;
    };
    const QStringList parity = texts(Msg::parityItems);
    const QStringList languages = texts(Msg::menuLanguageItems);
    for (QComboBox *box : {ComboBoxQorParityContr, ComboBoxQorParity})
        SetItemTexts(box, parity);
    for (QComboBox *box : {ComboBoxQorMenuLanguageContr, ComboBoxQorMenuLanguage})
        SetItemTexts(box, languages);
}

void ConnectSettingsPage::Shown()
{
    m_state.ConnectSettingsShown();
}

void ConnectSettingsPage::ApplyAccessMode(bool full)
{
    if (full)
        return;
    for (QWidget *w : std::initializer_list<QWidget *>{GroupBox25, ButtonQorCopyConnectToUser,
                                                       ButtonWriteConnectSettingsToQor})
        w->hide();
}

void ConnectSettingsPage::ShowControllerConnectSettings()
{
    const ConnectControls &c = m_state.connectContr;
    auto show = [&](QComboBox *box, int index) {
        box->setCurrentIndex(c.dashes ? -1 : index);
        box->setEditText(c.dashes ? QStringLiteral("---") : box->itemText(box->currentIndex()));
    };
    EditQorAddrContr->setText(c.dashes ? QStringLiteral("---") : c.addr);
    EditQorChanContr->setText(c.dashes ? QStringLiteral("---") : c.chan);
    show(ComboBoxQorBaudRateContr, c.baud);
    show(ComboBoxQorParityContr, c.parity);
    show(ComboBoxQorStopsContr, c.stops);
    show(ComboBoxQorMenuLanguageContr, c.language);
}

void ConnectSettingsPage::ButtonQorCopyConnectToUserClick()
{
    EditQorAddr->setText(EditQorAddrContr->text());
    for (auto [from, to] : {std::pair{ComboBoxQorBaudRateContr, ComboBoxQorBaudRate},
                            std::pair{ComboBoxQorParityContr, ComboBoxQorParity},
                            std::pair{ComboBoxQorStopsContr, ComboBoxQorStops}}) {
        to->setCurrentIndex(from->currentIndex());
        to->setEditText(to->itemText(to->currentIndex()));
    }
    EditQorChan->setText(EditQorChanContr->text());
    ComboBoxQorMenuLanguage->setCurrentIndex(ComboBoxQorMenuLanguageContr->currentIndex());
    ComboBoxQorMenuLanguage->setEditText(
        ComboBoxQorMenuLanguage->itemText(ComboBoxQorMenuLanguage->currentIndex()));
}

ConnectUserValues ConnectSettingsPage::UserConnectValues() const
{
    return {EditQorAddr->text(),           chosenItem(ComboBoxQorBaudRate),
            chosenItem(ComboBoxQorParity), chosenItem(ComboBoxQorStops),
            EditQorChan->text(),           chosenItem(ComboBoxQorMenuLanguage)};
}

void ConnectSettingsPage::ShowUserConnectValues(const ConnectUserValues &values)
{
    auto show = [](QComboBox *box, int index) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
        box->setEditText(box->itemText(box->currentIndex())); // empty when none
    };
    EditQorAddr->setText(values.addr);
    show(ComboBoxQorBaudRate, values.baud);
    show(ComboBoxQorParity, values.parity);
    show(ComboBoxQorStops, values.stops);
    EditQorChan->setText(values.chan);
    show(ComboBoxQorMenuLanguage, values.language);
}

void ConnectSettingsPage::ButtonWriteConnectSettingsToQorClick()
{
    MainState &s = m_state;
    if (!s.linkUp)
        return;
    s.RequestConnectWrite(UserConnectValues(), [](const QString &c, const QString &t) {
        ShowMessageBox(c, t, MessageIcon::None);
    });
}
