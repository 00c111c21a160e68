#include "Conpar.h"

#include "IntText.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "Message.h"
#include "SettingsMessage.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStyledItemDelegate>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QVBoxLayout>

namespace {
const QString kConnect = QStringLiteral("connect");
constexpr int kComPorts = 20;
constexpr int kDescriptionRole = Qt::UserRole + 1;

// The port list shows what each system port is beside its path; the edit and the stored
// setting keep the path alone.
class PortItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(kDescriptionRole).toString();
        if (!description.isEmpty())
            option->text += QStringLiteral("   — ") + description;
    }
};

// "ttyUSB2" before "ttyUSB10": runs of digits compare as numbers. (QCollator's numeric
// mode needs ICU, which not every Qt build has.)
bool NaturalLess(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong na = a.mid(i, ei - i).toULongLong();
            const qulonglong nb = b.mid(j, ej - j).toULongLong();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

QString Describe(const QSerialPortInfo &info)
{
    QStringList parts;
    for (const QString &part : {info.description(), info.manufacturer(), info.serialNumber()})
        if (!part.trimmed().isEmpty() && !parts.contains(part.trimmed()))
            parts << part.trimmed();
    return parts.join(QStringLiteral(", "));
}

} // namespace

QList<TConparDlg::SystemPort> TConparDlg::FindSystemPorts()
{
    QList<SystemPort> ports;
    QHash<QString, QString> described; // device path -> description
    static const QRegularExpression ttyS(QStringLiteral("^/dev/ttyS(\\d+)$"));
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        QString description = Describe(info);
        // The same port as the COMn further down the list.
        if (const auto m = ttyS.match(info.systemLocation()); m.hasMatch())
            description = (description.isEmpty() ? QString() : description + QStringLiteral(", ")) +
                          QStringLiteral("COM") + QString::number(m.captured(1).toInt() + 1);
        ports.append({info.systemLocation(), description});
        described.insert(info.systemLocation(), description);
    }
    // The by-id links name the adapter for good, whichever ttyUSB number it got today.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const auto links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links) {
        const QString target = link.canonicalFilePath();
        QString description = target;
        if (const QString d = described.value(target); !d.isEmpty())
            description += QStringLiteral(", ") + d;
        ports.append({link.absoluteFilePath(), description});
    }
    return ports;
}

QList<TConparDlg::SystemPort> TConparDlg::OrderedPorts(QList<SystemPort> ports)
{
    auto group = [](const QString &path) {
        if (path.startsWith(QLatin1String("/dev/ttyUSB")))
            return 0;
        if (path.startsWith(QLatin1String("/dev/ttyACM")))
            return 1;
        if (path.startsWith(QLatin1String("/dev/serial/by-id/")))
            return 2;
        return 3;
    };
    std::stable_sort(ports.begin(), ports.end(), [&](const SystemPort &a, const SystemPort &b) {
        const int ga = group(a.path), gb = group(b.path);
        return ga != gb ? ga < gb : NaturalLess(a.path, b.path);
    });
    return ports;
}

QLineEdit *TConparDlg::edit(const QString &name, QLabel *&label, const QString &labelName,
                            const QString &text, bool editable)
{
    auto *e = new QLineEdit(this);
    e->setObjectName(name);
    e->setEnabled(editable);
    label = new QLabel(text, this);
    label->setObjectName(labelName);
    label->setBuddy(e);
    return e;
}

TConparDlg::TConparDlg(MemIniFile &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("ConparDlg"));
    setWindowTitle(QStringLiteral("Настройки связи ПО"));
    setModal(true);

    EditAdr = edit("EditAdr", Label8, "Label8", "Адрес модуля", true);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->addItems({"9600", "19200", "38400", "57600", "115200"});
    Label7 = new QLabel("Скорость, бит/с", this);
    Label7->setObjectName("Label7");
    ComboBox3 = new QComboBox(this);
    ComboBox3->setObjectName("ComboBox3");
    ComboBox3->addItems({"нет / no", "чет / even", "нечет / odd"});
    Label9 = new QLabel("Паритет", this);
    Label9->setObjectName("Label9");
    ComboBoxStops = new QComboBox(this);
    ComboBoxStops->setObjectName("ComboBoxStops");
    ComboBoxStops->addItems({"1", "2"});
    Label11 = new QLabel("Кол-во стоп-бит", this);
    Label11->setObjectName("Label11");
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setEditable(true); // a device path may be typed
    ComboBox1->setInsertPolicy(QComboBox::NoInsert); // typed text is shown, never listed
    ComboBox1->setItemDelegate(new PortItemDelegate(ComboBox1));
    systemPorts = &TConparDlg::FindSystemPorts;
    FillPortList();
    ComboBox1->setCurrentIndex(-1);
    Label1 = new QLabel("Порт", this);
    Label1->setObjectName("Label1");

    EditSend = edit("EditSend", Label2, "Label2", "Send", false);
    EditSleep = edit("EditSleep", Label3, "Label3", "Sleep", false);
    EditReceive = edit("EditReceive", Label4, "Label4", "Receive", false);
    Edit1 = edit("Edit1", Label5, "Label5", "ReadIntervalTimeout", true);
    Edit2 = edit("Edit2", Label6, "Label6", "ReadTotalTimeoutMultiplier", false);
    Edit3 = edit("Edit3", Label10, "Label10", "ReadTotalTimeoutConstant", false);
    Edit5 = edit("Edit5", Label12, "Label12", "WriteTotalTimeoutMultiplier", false);
    Edit6 = edit("Edit6", Label13, "Label13", "WriteTotalTimeoutConstant", false);

    GroupBox4 = new QGroupBox("Настройки связи программы", this);
    GroupBox4->setObjectName("GroupBox4");
    auto *f4 = new QFormLayout(GroupBox4);
    f4->addRow(Label8, EditAdr);
    f4->addRow(Label7, ComboBox2);
    f4->addRow(Label9, ComboBox3);
    f4->addRow(Label11, ComboBoxStops);
    f4->addRow(Label1, ComboBox1);
    LabelPortCharset = new QLabel(this);
    LabelPortCharset->setObjectName("LabelPortCharset");
    LabelPortCharset->setWordWrap(true);
    LabelPortCharset->setStyleSheet(QStringLiteral("color: red"));
    LabelPortCharset->hide();
    f4->addRow(LabelPortCharset);
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TConparDlg::ShowPortNameFit);

    GroupBox2 = new QGroupBox("Async Op", this);
    GroupBox2->setObjectName("GroupBox2");
    auto *f2 = new QFormLayout(GroupBox2);
    f2->addRow(Label2, EditSend);
    f2->addRow(Label3, EditSleep);
    f2->addRow(Label4, EditReceive);
    GroupBox3 = new QGroupBox("CTO", this);
    GroupBox3->setObjectName("GroupBox3");
    auto *f3 = new QFormLayout(GroupBox3);
    f3->addRow(Label5, Edit1);
    f3->addRow(Label6, Edit2);
    f3->addRow(Label10, Edit3);
    f3->addRow(Label12, Edit5);
    f3->addRow(Label13, Edit6);
    GroupBox1 = new QGroupBox("Задержки", this);
    GroupBox1->setObjectName("GroupBox1");
    auto *g1 = new QHBoxLayout(GroupBox1);
    g1->addWidget(GroupBox2);
    g1->addWidget(GroupBox3);

    OKBtn = new QPushButton("Сохранить", this);
    OKBtn->setObjectName("OKBtn");
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton("Отмена", this);
    CancelBtn->setObjectName("CancelBtn");
    connect(OKBtn, &QPushButton::clicked, this, &TConparDlg::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TConparDlg::CancelBtnClick);
    connect(this, &QDialog::finished, this, &TConparDlg::DialogFinished);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto *top = new QVBoxLayout(this);
    top->addWidget(GroupBox4);
    top->addWidget(GroupBox1);
    top->addLayout(buttons);
}

void TConparDlg::Fill()
{
    auto text = [&](QLineEdit *e, const char *key, const char *def) {
        e->setText(m_settings.readString(kConnect, QString::fromLatin1(key), QString::fromLatin1(def)));
    };
    auto index = [&](QComboBox *c, const char *key, int def) {
        const int i = m_settings.readInteger(kConnect, QString::fromLatin1(key), def);
        c->setCurrentIndex(i >= 0 && i < c->count() ? i : -1);
    };
    text(EditAdr, "adr", "100");
    index(ComboBox2, "speed", 0);
    index(ComboBox3, "parity", 0);
    index(ComboBoxStops, "stopbits", 1);
    // The parity item that was the fourth, an empty one, is gone; it set no parity on the
    // line, which is what "none" does.
    if (m_settings.readInteger(kConnect, QStringLiteral("parity"), 0) == 3)
        ComboBox3->setCurrentIndex(0);
    const QString shown = ComboBox1->currentText();
    FillPortList();
    ComboBox1->setEditText(shown);
    const QString port = m_settings.readString(kConnect, QStringLiteral("port"), QString());
    for (int i = 0; i < ComboBox1->count(); ++i)
        if (ComboBox1->itemText(i) == port) {
            ComboBox1->setCurrentIndex(i);
            ComboBox1->setEditText(port); // also when that item was current under typed text
            break;
        }
    if (ComboBox1->currentIndex() < 0 && ComboBox1->currentText().isEmpty() && !port.isEmpty())
        ComboBox1->setEditText(port); // a device path that is not in the list
    text(EditSend, "send", "50");
    text(EditSleep, "sleep", "0");
    text(EditReceive, "receive", "500");
    text(Edit1, "cto1", "50");
    text(Edit2, "cto2", "0");
    text(Edit3, "cto3", "500");
    text(Edit5, "cto4", "0");
    text(Edit6, "cto5", "500");
}

void TConparDlg::FillPortList()
{
    // The ports this system has now, then COM1..COM20.
    ComboBox1->clear();
    const QList<SystemPort> ports = OrderedPorts(systemPorts ? systemPorts() : QList<SystemPort>{});
    for (const SystemPort &port : ports) {
        if (ComboBox1->findText(port.path) >= 0)
            continue;
        ComboBox1->addItem(port.path);
        const int i = ComboBox1->count() - 1;
        ComboBox1->setItemData(i, port.description, kDescriptionRole);
        ComboBox1->setItemData(i, port.description, Qt::ToolTipRole);
    }
    for (int i = 1; i <= kComPorts; ++i)
        ComboBox1->addItem(QStringLiteral("COM%1").arg(i));
    ComboBox1->view()->setMinimumWidth(ComboBox1->view()->sizeHintForColumn(0));
    ComboBox1->setCurrentIndex(-1); // the first item added became current
}

void TConparDlg::Store()
{
    auto text = [&](const char *key, QLineEdit *e) {
        m_settings.writeString(kConnect, QString::fromLatin1(key), e->text());
    };
    text("adr", EditAdr);
    m_settings.writeInteger(kConnect, "speed", ComboBox2->currentIndex());
    m_settings.writeInteger(kConnect, "parity", ComboBox3->currentIndex());
    m_settings.writeInteger(kConnect, "stopbits", ComboBoxStops->currentIndex());
    m_settings.writeString(kConnect, "port", ComboBox1->currentText());
    text("send", EditSend);
    text("sleep", EditSleep);
    text("receive", EditReceive);
    text("cto1", Edit1);
    text("cto2", Edit2);
    text("cto3", Edit3);
    text("cto4", Edit5);
    text("cto5", Edit6);
}

void TConparDlg::Edit()
{
    if (isVisible()) { // already open: keep what the user is typing
        raise();
        activateWindow();
        return;
    }
    Fill();
    OKBtn->setText(QStringLiteral("OK"));
    settingsAccepted = false; // the close box is a Cancel, never a repeat of an earlier OK
    open();
}

void TConparDlg::DialogFinished()
{
    if (!settingsAccepted)
        return;
    Store();
    emit SettingsStored();
}

QString TConparDlg::PortNameUnfit() const
{
    QString unfit;
    CellTextForCodePage(ComboBox1->currentText(), &unfit);
    return unfit;
}

QString TConparDlg::PortNameMessage(const QString &unfit) const
{
    return FixedText(m_settings,
                     u"В имени порта есть символы, которых нет в кодировке Windows-1251: ",
                     "The port name holds characters that Windows-1251 cannot hold: ") +
           unfit;
}

void TConparDlg::ShowPortNameFit()
{
    const QString unfit = PortNameUnfit();
    LabelPortCharset->setText(unfit.isEmpty() ? QString() : PortNameMessage(unfit));
    LabelPortCharset->setVisible(!unfit.isEmpty());
}

void TConparDlg::OKBtnClick()
{
    const QString caption = LookupText(m_settings, Msg::n67);
    settingsAccepted = false;
    if (!ParseIntText(EditAdr->text())) {
        ShowMessageBox(caption, LookupText(m_settings, Msg::n68), MessageIcon::None);
        reject();
        return;
    }
    if (GroupBox1->isVisible()) {
        const auto cto1 = ParseIntText(Edit1->text());
        if (!cto1) {
            ShowMessageBox(caption, LookupText(m_settings, Msg::n71), MessageIcon::None);
            reject();
            return;
        }
        if (*cto1 < 1)
            Edit1->setText(QStringLiteral("1"));
        else if (*cto1 > 200)
            Edit1->setText(QStringLiteral("200"));
    }
    // start.ini holds Windows-1251: such a name would be stored as '?' and name another port.
    const QString unfit = PortNameUnfit();
    if (!unfit.isEmpty()) {
        ShowMessageBox(caption, PortNameMessage(unfit), MessageIcon::None);
        reject();
        return;
    }
    settingsAccepted = true;
    accept();
}

void TConparDlg::CancelBtnClick()
{
    settingsAccepted = false;
    reject();
}

void TConparDlg::ApplyLanguage()
{
    auto t = [&](const char *key, const char *def) {
        return LookupText(m_settings, key, QString::fromUtf8(def));
    };
    setWindowTitle(t("n55", "Настройки связи ПО"));
    GroupBox4->setTitle(t("n56", "Настройки связи программы"));
    Label1->setText(t("n57", "Порт"));
    GroupBox1->setTitle(t("n58", "Задержки"));
    OKBtn->setText(t("n59", "Сохранить"));
    CancelBtn->setText(t("n60", "Отмена"));
    Label8->setText(t("n43", "Адрес модуля"));
    Label7->setText(t("n44", "Скорость, бит/с"));
    Label9->setText(t("n45", "Паритет"));
    Label11->setText(t("n46", "Кол-во стоп-битов"));
    QStringList parity;
    for (const TextKey &k : Msg::parityItems)
        parity << LookupText(m_settings, k);
    SetItemTexts(ComboBox3, parity);
}
