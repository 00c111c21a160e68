#include "PlantDialog.h"

#include "LookupText.h"
#include "MemIniFile.h"
#include "Message.h"
#include "PlantViewTexts.h"
#include "ShellTexts.h"
#include "Widgets.h"

#include <QComboBox>
#include <algorithm>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const char *const kSpeeds[] = {"9600", "19200", "38400", "57600", "115200"};

// A line setting: the first item ("") is "as start.ini says", the others are its item indexes.
QComboBox *LineBox(const QStringList &items, std::optional<int> value)
{
    auto *box = new QComboBox;
    box->addItem(QString());
    box->addItems(items);
    box->setCurrentIndex(value && *value >= 0 && *value < items.size() ? *value + 1 : 0);
    return box;
}

std::optional<int> LineValue(const QComboBox *box)
{
    if (!box || box->currentIndex() <= 0)
        return std::nullopt;
    return box->currentIndex() - 1;
}

} // namespace

PlantDialog::PlantDialog(const MemIniFile &settings, const QString &workFolder, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_workFolder(workFolder)
{
    setObjectName(QStringLiteral("PlantDialog"));
    setWindowModality(Qt::WindowModal);
    m_table = named(new QTableWidget(0, ColumnCount, this), "PlantDialogTable");
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_add = named(new QPushButton(this), "ButtonPlantAdd");
    m_remove = named(new QPushButton(this), "ButtonPlantRemove");
    m_up = named(new QPushButton(this), "ButtonPlantUp");
    m_down = named(new QPushButton(this), "ButtonPlantDown");
    m_test = named(new QPushButton(this), "ButtonPlantTest");
    m_ok = named(new QPushButton(this), "ButtonPlantOK");
    m_cancel = named(new QPushButton(this), "ButtonPlantCancel");
    m_testResult = named(new QLabel(this), "LabelPlantTest");
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_ok->setDefault(true);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : {m_add, m_remove, m_up, m_down, m_test})
        buttons->addWidget(b);
    buttons->addStretch();
    auto *body = new QHBoxLayout;
    body->addWidget(m_table, 1);
    body->addLayout(buttons);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_testResult, 1);
    bottom->addWidget(m_ok);
    bottom->addWidget(m_cancel);
    auto *top = new QVBoxLayout(this);
    top->addLayout(body, 1);
    top->addLayout(bottom);
    resize(900, 400);

    connect(m_add, &QPushButton::clicked, this, &PlantDialog::ButtonAddClick);
    connect(m_remove, &QPushButton::clicked, this, &PlantDialog::ButtonRemoveClick);
    connect(m_up, &QPushButton::clicked, this, &PlantDialog::ButtonUpClick);
    connect(m_down, &QPushButton::clicked, this, &PlantDialog::ButtonDownClick);
    connect(m_test, &QPushButton::clicked, this, &PlantDialog::ButtonTestClick);
    connect(m_ok, &QPushButton::clicked, this, &PlantDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    ApplyCaptions();
}

QString PlantDialog::Text(const TextKey &key) const { return LookupText(m_settings, key); }

void PlantDialog::ApplyCaptions()
{
    setWindowTitle(Text(Msg::n675));
    m_table->setHorizontalHeaderLabels({Text(Msg::n681), Text(Msg::n682), Text(Msg::n683),
                                        Text(Msg::n684), Text(Msg::n685), Text(Msg::n686),
                                        Text(Msg::n687)});
    m_add->setText(Text(Msg::n676));
    m_remove->setText(Text(Msg::n677));
    m_up->setText(Text(Msg::n678));
    m_down->setText(Text(Msg::n679));
    m_test->setText(Text(Msg::n680));
    m_ok->setText(Text(Msg::n431));
    m_cancel->setText(Text(Msg::n432));
}

void PlantDialog::Edit(const PlantConfig &config)
{
    Fill(config, config.controllers.empty() ? -1 : 0);
    m_testResult->clear();
    ++m_testSerial;
    open();
}

void PlantDialog::SetRow(int row, const PlantEntry &e)
{
    m_table->setItem(row, ColName, new QTableWidgetItem(e.name));
    m_table->setItem(row, ColPort, new QTableWidgetItem(e.port));
    m_table->setItem(row, ColAddress, new QTableWidgetItem(QString::number(e.address)));
    QStringList speeds;
    for (const char *s : kSpeeds)
        speeds << QString::fromLatin1(s);
    QStringList parity;
    for (const TextKey &k : Msg::parityItems)
        parity << Text(k);
    m_table->setCellWidget(row, ColSpeed, LineBox(speeds, e.speed));
    m_table->setCellWidget(row, ColParity, LineBox(parity, e.parity));
    m_table->setCellWidget(row, ColStopbits, LineBox({QStringLiteral("1"), QStringLiteral("2")}, e.stopbits));
    m_table->setItem(row, ColCfg, new QTableWidgetItem(e.cfg));
}

PlantEntry PlantDialog::RowEntry(int row) const
{
    auto text = [&](int col) {
        const QTableWidgetItem *item = m_table->item(row, col);
        return item ? item->text().trimmed() : QString();
    };
    PlantEntry e;
    e.name = text(ColName);
    e.port = text(ColPort);
    bool ok = false;
    e.address = text(ColAddress).toInt(&ok);
    if (!ok)
        e.address = 0; // refused by the check, as an address out of range
    e.speed = LineValue(qobject_cast<QComboBox *>(m_table->cellWidget(row, ColSpeed)));
    e.parity = LineValue(qobject_cast<QComboBox *>(m_table->cellWidget(row, ColParity)));
    e.stopbits = LineValue(qobject_cast<QComboBox *>(m_table->cellWidget(row, ColStopbits)));
    e.cfg = text(ColCfg);
    return e;
}

PlantConfig PlantDialog::config() const
{
    PlantConfig c;
    for (int row = 0; row < m_table->rowCount(); ++row)
        c.controllers.push_back(RowEntry(row));
    return c;
}

void PlantDialog::Fill(const PlantConfig &config, int current)
{
    m_table->setRowCount(0);
    m_table->setRowCount(int(config.controllers.size()));
    for (int row = 0; row < int(config.controllers.size()); ++row)
        SetRow(row, config.controllers[size_t(row)]);
    if (current >= 0 && current < m_table->rowCount())
        m_table->selectRow(current);
    m_table->resizeColumnsToContents();
}

void PlantDialog::ButtonAddClick()
{
    PlantConfig c = config();
    PlantEntry e;
    // A name not taken yet, and the next free address on the port of the current row.
    const int current = m_table->currentRow();
    if (current >= 0)
        e.port = c.controllers[size_t(current)].port;
    for (int n = int(c.controllers.size()) + 1;; ++n) {
        e.name = Text(Msg::n661) + u' ' + QString::number(n);
        if (std::none_of(c.controllers.begin(), c.controllers.end(),
                         [&](const PlantEntry &o) { return o.name == e.name; }))
            break;
    }
    for (const PlantEntry &o : c.controllers)
        if (BusKey(o.port) == BusKey(e.port) && o.address >= e.address && o.address < 247)
            e.address = o.address + 1;
    c.controllers.push_back(e);
    Fill(c, int(c.controllers.size()) - 1);
    m_table->editItem(m_table->item(m_table->rowCount() - 1, ColName));
}

void PlantDialog::ButtonRemoveClick()
{
    const int row = m_table->currentRow();
    if (row < 0)
        return;
    PlantConfig c = config();
    c.controllers.erase(c.controllers.begin() + row);
    Fill(c, std::min(row, int(c.controllers.size()) - 1));
}

void PlantDialog::ButtonUpClick()
{
    const int row = m_table->currentRow();
    if (row <= 0)
        return;
    PlantConfig c = config();
    std::swap(c.controllers[size_t(row)], c.controllers[size_t(row - 1)]);
    Fill(c, row - 1);
}

void PlantDialog::ButtonDownClick()
{
    const int row = m_table->currentRow();
    if (row < 0 || row + 1 >= m_table->rowCount())
        return;
    PlantConfig c = config();
    std::swap(c.controllers[size_t(row)], c.controllers[size_t(row + 1)]);
    Fill(c, row + 1);
}

void PlantDialog::ButtonTestClick()
{
    const int row = m_table->currentRow();
    if (row < 0 || !testConnection)
        return;
    const PlantEntry e = RowEntry(row);
    const int serial = ++m_testSerial;
    m_testResult->setText(e.name + QStringLiteral(": ") + Text(Msg::n688));
    QPointer<PlantDialog> self(this);
    testConnection(e, [self, serial, name = e.name](const QString &result) {
        if (self && serial == self->m_testSerial)
            self->m_testResult->setText(name + QStringLiteral(": ") + result);
    });
}

void PlantDialog::accept()
{
    const PlantConfig c = config();
    const QString fault = CheckPlant(c, m_settings, m_workFolder);
    if (!fault.isEmpty()) {
        ShowMessageBox(Text(Msg::n675), fault, MessageIcon::Error);
        return; // stays open: the user mends it or cancels
    }
    QString error;
    if (!WritePlant(QDir(m_workFolder).filePath(QString::fromLatin1(kPlantFileName)), c, error)) {
        ShowMessageBox(Text(Msg::n675), error, MessageIcon::Error);
        return;
    }
    QDialog::accept();
    emit PlantWritten(c);
}
