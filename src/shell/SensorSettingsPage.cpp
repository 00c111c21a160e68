#include "SensorSettingsPage.h"

#include "GridView.h"
#include "MainState.h"
#include "Message.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "SettingsValidation.h"
#include "ShellTexts.h"
#include "TextGrid.h"
#include "Unitqorselectdlg.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

void ShowMessageNoIcon(const QString &caption, const QString &text)
{
    ShowMessageBox(caption, text, MessageIcon::None);
}

} // namespace

SensorSettingsPage::SensorSettingsPage(MainState &state, TFormQorSelectSensors &selectDlg,
                                       QWidget *parent)
    : QorPage(QStringLiteral("TabSheetSensorSettings"), state, parent), m_select(selectDlg)
{
    MainState &s = m_state;
    auto *page = new QVBoxLayout(ScrolledBody());
    auto pair = [&](const char *boxName, const char *title, const char *gridName, TextGrid &grid,
                    const char *tagName, TextGrid &tags, GridView *&gridView, GridView *&tagView) {
        auto *box = named(new QGroupBox(QString::fromUtf8(title)), QString::fromLatin1(boxName));
        auto *row = new QHBoxLayout(box);
        gridView = new GridView(QString::fromLatin1(gridName), grid, box);
        tagView = new GridView(QString::fromLatin1(tagName), tags, box);
        settingsLook(gridView, 16, false, 125);
        settingsLook(tagView, 16, false, 180);
        tagView->setFixedWidth(211);
        tagView->horizontalHeader()->setStretchLastSection(true);
        row->addWidget(gridView, 1);
        row->addWidget(tagView);
        row->setSpacing(0);
        box->setMinimumHeight(170); // a few rows; the grids scroll, the page fits a laptop
        return box;
    };
    GroupBox23 =
        pair("GroupBox23", "Из контроллера", "StringGridSensorSettings", s.sensorSettings,
             "StringGridTagContr", s.tagContr, StringGridSensorSettings, StringGridTagContr);
    StringGridSensorSettings->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridSensorSettings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGridTagContr->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GroupBox27 =
        pair("GroupBox27", "Пользователь", "StringGridSensorSettingsUser", s.sensorSettingsUser,
             "StringGridTagUser", s.tagUser, StringGridSensorSettingsUser, StringGridTagUser);
    for (GridView *g : {StringGridSensorSettingsUser, StringGridTagUser})
        g->setEditTriggers(QAbstractItemView::AllEditTriggers);
    // A tag is cut to its limit while it is typed, not only when the cell is left.
    StringGridTagUser->setEditorMaxLength(
        [this] { return 2 * int(m_state.registerMap.QOR_SENSOR_TAG_SIZE); });
    ButtonCopySensorSettingsToUser = namedButton(
        "ButtonCopySensorSettingsToUser", "Копировать таблицу контроллера в Таблицу пользователя");
    ButtonCopySensorSettingsToUser->setEnabled(false);
    ButtonSelectSensors = namedButton("ButtonSelectSensors", "Выбрать датчики для редактирования");
    ButtonSetZero = namedButton("ButtonSetZero", "Обнулить все ID в таблице пользователя");
    ButtonDownloadSensorSettingtsToQor =
        namedButton("ButtonDownloadSensorSettingtsToQor", "Загрузить новые данные в контроллер");
    CheckBoxOverWriteID =
        named(new QCheckBox(QStringLiteral(
                  "Менять ID в таблице по инкременту даже при наличии текущего в ячейке")),
              "CheckBoxOverWriteID");
    Memo2 = namedMemo("Memo2");
    Memo2->setFixedHeight(90);
    Memo2->setMinimumWidth(200);
    Memo2->setMaximumWidth(420);
    PopupMenuTags = named(new QMenu(StringGridTagUser), "PopupMenuTags");
    QAction *loadTags = PopupMenuTags->addAction(QStringLiteral("Загрузить из файла..."));
    loadTags->setObjectName(QStringLiteral("LoadFromFileItem"));
    StringGridTagUser->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGridTagUser, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) {
                PopupMenuTags->popup(StringGridTagUser->viewport()->mapToGlobal(at));
            });

    page->addWidget(GroupBox23, 1);
    auto *copyRow = new QHBoxLayout;
    copyRow->addStretch();
    copyRow->addWidget(ButtonCopySensorSettingsToUser);
    copyRow->addStretch();
    page->addLayout(copyRow);
    page->addWidget(GroupBox27, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Memo2);
    auto *middle = new QVBoxLayout;
    middle->addWidget(ButtonSelectSensors);
    middle->addWidget(ButtonSetZero);
    bottom->addLayout(middle);
    bottom->addStretch();
    bottom->addWidget(ButtonDownloadSensorSettingtsToQor);
    page->addLayout(bottom);
    page->addWidget(CheckBoxOverWriteID);
    ConnectHandlers();
}

void SensorSettingsPage::ConnectHandlers()
{
    connect(ButtonCopySensorSettingsToUser, &QPushButton::clicked, this,
            &SensorSettingsPage::ButtonCopySensorSettingsToUserClick);
    connect(ButtonSelectSensors, &QPushButton::clicked, this,
            &SensorSettingsPage::ButtonSelectSensorsClick);
    connect(ButtonSetZero, &QPushButton::clicked, this, &SensorSettingsPage::ButtonSetZeroClick);
    connect(ButtonDownloadSensorSettingtsToQor, &QPushButton::clicked, this,
            &SensorSettingsPage::ButtonDownloadSensorSettingtsToQorClick);
    connect(PopupMenuTags->actions().constFirst(), &QAction::triggered, this,
            &SensorSettingsPage::LoadFromFileItemClick);
    connect(&m_select, &QDialog::finished, this, &SensorSettingsPage::SensorsSelected);
    // StringGridSensorSettingsUserSelectCell: stepping down the ID column counts up.
    connect(StringGridSensorSettingsUser->selectionModel(), &QItemSelectionModel::currentChanged,
            this, [this](const QModelIndex &current) {
                IncrementSensorId(m_state.sensorSettingsUser, current.column(), current.row(),
                                  CheckBoxOverWriteID->isChecked());
            });
    // StringGridSensorSettingsUserKeyPress: Enter in an ID cell writes it in the ID form.
    connect(StringGridSensorSettingsUser->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget *, QAbstractItemDelegate::EndEditHint hint) {
                if (hint != QAbstractItemDelegate::SubmitModelCache)
                    return;
                const QModelIndex at = StringGridSensorSettingsUser->currentIndex();
                NormaliseSensorIdCell(m_state.sensorSettingsUser, at.column(), at.row());
            });
}

QString SensorSettingsPage::Caption() const
{
    return Text("n16", "Настройки датчиков");
}

void SensorSettingsPage::ApplyCaptions()
{
    GroupBox23->setTitle(Text("n17", "Из контроллера"));
    GroupBox27->setTitle(Text("n18", "Пользователь"));
    ButtonCopySensorSettingsToUser->setText(
        Text("n19", "Копировать таблицу контроллера в Таблицу пользователя"));
    ButtonSelectSensors->setText(Text("n20", "Выбрать датчики для редактирования"));
    ButtonDownloadSensorSettingtsToQor->setText(Text("n21", "Загрузить новые данные в контроллер"));
    ButtonSetZero->setText(Text("n120", "Обнулить все ID в таблице пользователя"));
    PopupMenuTags->actions().constFirst()->setText(m_state.Text(Msg::n423));
    CheckBoxOverWriteID->setText(
        Text("n121", "Менять ID в таблице по инкременту даже при наличии текущего в ячейке"));
    const QString section = QStringLiteral("Memo2_lang") +
                            QString::number(m_state.settingsIni.readInteger("language", "lang", 0));
    Memo2->setPlainText(m_state.settingsIni.sectionLines(section).join(u'\n'));
}

void SensorSettingsPage::Shown()
{
    m_state.SensorSettingsShown();
}

void SensorSettingsPage::ApplyAccessMode(bool full)
{
    if (full)
        return;
    for (QWidget *w : std::initializer_list<QWidget *>{
             GroupBox27, ButtonCopySensorSettingsToUser, ButtonSelectSensors,
             ButtonDownloadSensorSettingtsToQor, ButtonSetZero, CheckBoxOverWriteID})
        w->hide();
}

void SensorSettingsPage::ShowTagTables(bool shown)
{
    StringGridTagContr->setVisible(shown);
    StringGridTagUser->setVisible(shown);
}

int SensorSettingsPage::VisibleRows() const
{
    return StringGridSensorSettings->fullyVisibleRows();
}

void SensorSettingsPage::EnableCopy(bool enabled)
{
    ButtonCopySensorSettingsToUser->setEnabled(enabled);
}

void SensorSettingsPage::ButtonCopySensorSettingsToUserClick()
{
    CopyGridToGrid(m_state.sensorSettings, m_state.sensorSettingsUser);
    CopyGridToGrid(m_state.tagContr, m_state.tagUser);
}

void SensorSettingsPage::ButtonSelectSensorsClick()
{
    if (m_select.isVisible())
        return;
    MainState &s = m_state;
    const int maxSensors = s.registerMap.MAX_SENSORS;
    m_select.Prepare(s.Text(Msg::n32), maxSensors);
    const QList<bool> ticks = SensorTicks(s.sensorSettingsUser, maxSensors);
    for (int i = 0; i < maxSensors && i < TFormQorSelectSensors::kBoxes; ++i)
        m_select.sensorCheckBoxes[i]->setChecked(i < ticks.size() && ticks[i]);
    m_select.open();
}

void SensorSettingsPage::SensorsSelected(int result)
{
    if (result != QDialog::Accepted || !m_select.selectionConfirmed)
        return;
    // The map as it is now: a poll step may have identified the controller meanwhile.
    MainState &s = m_state;
    const int maxSensors = s.registerMap.MAX_SENSORS;
    QList<bool> chosen;
    for (int i = 0; i < maxSensors && i < TFormQorSelectSensors::kBoxes; ++i)
        chosen.append(m_select.sensorCheckBoxes[i]->isChecked());
    ApplySensorSelection(s.sensorSettingsUser, s.tagUser, chosen, maxSensors, s.Text(Msg::n32));
}

void SensorSettingsPage::ButtonSetZeroClick()
{
    SetZero(m_state.sensorSettingsUser);
}

void SensorSettingsPage::ButtonDownloadSensorSettingtsToQorClick()
{
    MainState &s = m_state;
    int faultRow = 0;
    if (!s.RequestSensorWrite(ShowMessageNoIcon, &faultRow) && faultRow > 0)
        StringGridSensorSettingsUser->setCurrentIndex(s.sensorSettingsUser.index(faultRow, 1));
}

void SensorSettingsPage::LoadFromFileItemClick()
{
    if (!OpenDialogTags) { // made at first use: a file dialog costs its start-up time
        OpenDialogTags = named(new QFileDialog(this), "OpenDialogTags");
        // Any name is taken, so that the dialog never runs a box of its own (a nested event
        // loop) for a missing file; loading one says so.
        OpenDialogTags->setFileMode(QFileDialog::AnyFile);
        connect(OpenDialogTags, &QDialog::finished, this, &SensorSettingsPage::TagFileChosen);
    }
    if (OpenDialogTags->isVisible())
        return;
    // The file dialog may change the working directory; start.ini, Cfg and Trends rely on it.
    m_folderBeforeDialog = QDir::currentPath();
    OpenDialogTags->setDirectory(m_folderBeforeDialog);
    OpenDialogTags->open();
}

void SensorSettingsPage::TagFileChosen(int result)
{
    QDir::setCurrent(m_folderBeforeDialog);
    const QStringList files = OpenDialogTags->selectedFiles();
    if (result != QDialog::Accepted || files.isEmpty())
        return;
    MainState &s = m_state;
    LoadTagFile(files.constFirst(), s.tagUser, s.registerMap.QOR_SENSOR_TAG_SIZE, s.settingsIni,
                ShowMessageNoIcon);
}
