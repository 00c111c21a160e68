#include "Main.h"

#include "Conpar.h"
#include "GridView.h"
#include "MainState.h"
#include "Message.h"
#include "PollCycle.h"
#include "QorThread.h"
#include "Psw.h"
#include "SensorId.h"
#include "SensorRows.h"
#include "SettingsValidation.h"
#include "SensorTags.h"
#include "Shape.h"
#include "Unitqorselectdlg.h"
#include "TextGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString kCaption = QStringLiteral("Velmaris    ") + QStringLiteral("150.724");
const QColor kGrey(191, 205, 219); // the inactive-caption grey of the desktop
const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);
constexpr int kSensorDataRowHeight = 30;

template <class W> W *named(W *w, const QString &name)
{
    w->setObjectName(name);
    return w;
}

QComboBox *combo(const QString &name, const QStringList &items, bool controller, QWidget *parent)
{
    auto *c = named(new QComboBox(parent), name);
    c->addItems(items);
    c->setCurrentIndex(-1);
    if (controller) {
        c->setEnabled(false);
        c->setEditable(true); // so that "---" can be shown
        c->lineEdit()->setReadOnly(true);
    } else {
        c->setEditable(true); // typed text is not a choice; only a list item counts
    }
    return c;
}

const QStringList kBaudTexts = {"9600", "19200", "38400", "57600", "115200"};
const QStringList kParityTexts = {"нет / no", "чет / even", "нечет / odd"};
const QStringList kStopTexts = {"1", "2"};
const QStringList kMenuLanguageTexts = {"Русский", "English"};

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kCaption);
    m_state = std::make_unique<MainState>(*this); // FormCreate: start.ini, default.ini
    m_cycle = std::make_unique<PollCycle>(*m_state);

    BuildToolBar();
    auto *bar = named(new QStatusBar(this), "StatusBar1");
    // Design widths 600, 500, 100, 100; the last panel (the version line) takes the rest
    // so that it is never cut off.
    const int stretch[4] = {6, 5, 0, 3};
    const int minimum[4] = {200, 160, 150, 300};
    for (int i = 0; i < 4; ++i) {
        StatusBar1Panel[i] = named(new QLabel(bar), QStringLiteral("StatusBar1Panel%1").arg(i));
        StatusBar1Panel[i]->setMinimumWidth(minimum[i]);
        StatusBar1Panel[i]->setFrameShape(QFrame::StyledPanel);
        bar->addWidget(StatusBar1Panel[i], stretch[i]);
    }
    setStatusBar(bar);

    auto *central = new QWidget(this);
    auto *top = new QVBoxLayout(central);
    auto *lampRow = new QHBoxLayout;
    Shape1 = new Shape(QStringLiteral("Shape1"), central);
    Shape1->setColor(kGrey);
    Label1 = named(new QLabel(QStringLiteral("Модуль на связи"), central), "Label1");
    Label12 = named(new QLabel(central), "Label12");
    Panel10 = named(new QLabel(central), "Panel10");
    Panel10->setFrameShape(QFrame::Panel);
    Panel10->setFrameShadow(QFrame::Raised);
    Panel10->setAlignment(Qt::AlignCenter);
    Panel10->setMinimumWidth(420);
    QFont big = Panel10->font();
    big.setPointSize(14);
    big.setBold(true);
    Panel10->setFont(big);
    Panel10->hide();
    lampRow->addWidget(Shape1);
    lampRow->addWidget(Label1);
    lampRow->addStretch();
    lampRow->addWidget(Panel10);
    lampRow->addStretch();
    lampRow->addWidget(Label12);
    top->addLayout(lampRow);

    auto *body = new QHBoxLayout;
    auto *side = new QVBoxLayout;
    GroupBox26 = named(new QGroupBox(QStringLiteral("Состояние реле "), central), "GroupBox26");
    StringGridQorRelay = new GridView("StringGridQorRelay", m_state->qorRelay, GroupBox26);
    QFont relayFont = StringGridQorRelay->font();
    relayFont.setPixelSize(16);
    StringGridQorRelay->setFont(relayFont);
    StringGridQorRelay->setDefaultColumnWidth(80);
    StringGridQorRelay->setFixedWidth(166);
    StringGridQorRelay->setSelectionMode(QAbstractItemView::NoSelection);
    StringGridQorRelay->setCellPainter([this](QPainter *p, const QRect &rect, int col, int row) {
        // StringGridQorRelayDrawCell: a lamp over the state while the link is up.
        if (!m_state->linkUp || col == 0)
            return;
        const bool on = row < 16 && (m_state->relayStateWord >> row & 1);
        p->fillRect(rect, on ? kRed : kGrey);
    });
    (new QVBoxLayout(GroupBox26))->addWidget(StringGridQorRelay);
    side->addWidget(GroupBox26);
    GroupBox4 = named(new QGroupBox(QStringLiteral("Дискретные входы"), central), "GroupBox4");
    GroupBox5 = named(new QGroupBox(QStringLiteral("Дискретные выходы"), central), "GroupBox5");
    side->addWidget(GroupBox4);
    side->addWidget(GroupBox5);
    side->addStretch();
    body->addLayout(side);

    PageControlQOR = named(new QTabWidget(central), "PageControlQOR");
    BuildSensorDataPage();
    BuildSensorSettingsPage();
    BuildRelaySettingsPage();
    BuildConnectPage();
    TabSheetProfiles = named(new QWidget, "TabSheetProfiles");
    PageControlQOR->addTab(TabSheetProfiles, QStringLiteral("Профили"));
    connect(PageControlQOR, &QTabWidget::currentChanged, this, &TForm1::PageShown);
    body->addWidget(PageControlQOR, 1);
    top->addLayout(body, 1);
    setCentralWidget(central);

    m_conpar = new TConparDlg(m_state->settingsIni, this);
    m_password = new TForm3(this);
    m_select = new TFormQorSelectSensors(this);
    ConnectButtons();
}

void TForm1::ConnectButtons()
{
    connect(ButtonCopySensorSettingsToUser, &QPushButton::clicked, this,
            &TForm1::ButtonCopySensorSettingsToUserClick);
    connect(ButtonSelectSensors, &QPushButton::clicked, this, &TForm1::ButtonSelectSensorsClick);
    connect(ButtonSetZero, &QPushButton::clicked, this, &TForm1::ButtonSetZeroClick);
    connect(ButtonDownloadSensorSettingtsToQor, &QPushButton::clicked, this,
            &TForm1::ButtonDownloadSensorSettingtsToQorClick);
    connect(ButtonCopyRelaySettingsToUser, &QPushButton::clicked, this,
            &TForm1::ButtonCopyRelaySettingsToUserClick);
    connect(ButtonDownloadRelaySettingsToQor, &QPushButton::clicked, this,
            &TForm1::ButtonDownloadRelaySettingsToQorClick);
    connect(ButtonQorCopyConnectToUser, &QPushButton::clicked, this,
            &TForm1::ButtonQorCopyConnectToUserClick);
    connect(ButtonWriteConnectSettingsToQor, &QPushButton::clicked, this,
            &TForm1::ButtonWriteConnectSettingsToQorClick);
    connect(PopupMenuTags->actions().constFirst(), &QAction::triggered, this,
            &TForm1::LoadFromFileItemClick);
    // StringGridSensorSettingsUserSelectCell: stepping down the ID column counts up.
    connect(StringGridSensorSettingsUser->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                IncrementSensorId(m_state->sensorSettingsUser, current.column(), current.row(),
                                  CheckBoxOverWriteID->isChecked());
            });
    // StringGridSensorSettingsUserKeyPress: Enter in an ID cell writes it in the ID form.
    connect(StringGridSensorSettingsUser->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            [this](QWidget *, QAbstractItemDelegate::EndEditHint hint) {
                if (hint != QAbstractItemDelegate::SubmitModelCache)
                    return;
                const QModelIndex at = StringGridSensorSettingsUser->currentIndex();
                NormaliseSensorIdCell(m_state->sensorSettingsUser, at.column(), at.row());
            });
    // The configuration-file button is not offered (hidden, its click does nothing).
    ToolButtonOpenCfg->property("toolBarAction").value<QAction *>()->setVisible(false);
}

void TForm1::ShowMessageNoIcon(const QString &caption, const QString &text)
{
    ShowMessageBox(caption, text, MessageIcon::None);
}

TForm1::~TForm1()
{
    if (m_thread)
        m_thread->StopAndWait();
    m_state->link.ClosePort();
}

void TForm1::BuildToolBar()
{
    ToolBar1 = named(addToolBar(QStringLiteral("ToolBar1")), "ToolBar1");
    ToolBar1->setMovable(false);
    auto button = [&](const char *name, QStyle::StandardPixmap icon, const QString &text,
                      const QString &hint) {
        auto *b = named(new QToolButton(ToolBar1), QString::fromLatin1(name));
        if (icon != QStyle::SP_CustomBase)
            b->setIcon(style()->standardIcon(icon));
        b->setText(text);
        b->setToolTip(hint);
        b->setToolButtonStyle(icon == QStyle::SP_CustomBase ? Qt::ToolButtonTextOnly
                                                              : Qt::ToolButtonIconOnly);
        b->setProperty("toolBarAction", QVariant::fromValue(ToolBar1->addWidget(b)));
        return b;
    };
    ToolButton1 = button("ToolButton1", QStyle::SP_ComputerIcon, "Порт",
                         QStringLiteral("Настройки связи программы"));
    ToolBar1->addSeparator();
    ToolButton3 = button("ToolButton3", QStyle::SP_MediaStop, "Стоп", QStringLiteral("Прервать связь"));
    ToolButton4 = button("ToolButton4", QStyle::SP_MediaPlay, "Пуск",
                         QStringLiteral("Восстановить связь"));
    ToolBar1->addSeparator();
    ToolButtonQorOpenProfile = button("ToolButtonQorOpenProfile", QStyle::SP_DialogOpenButton, "",
                                      QStringLiteral("Загрузить настройки из файла профиля"));
    ToolButtonQorSaveProfile =
        button("ToolButtonQorSaveProfile", QStyle::SP_DialogSaveButton, "",
               QStringLiteral("Сохранить текущие настройки пользователя в файл профиля"));
    ToolButtonQorLoadProfileToController =
        button("ToolButtonQorLoadProfileToController", QStyle::SP_ArrowDown, "",
               QStringLiteral("Загрузить текущий профиль из таблиц в контроллер"));
    ToolBar1->addSeparator();
    ToolButtonEngLanguage = button("ToolButtonEngLanguage", QStyle::SP_CustomBase, "EN",
                                   QStringLiteral("English"));
    ToolButtonRusLanguage = button("ToolButtonRusLanguage", QStyle::SP_CustomBase, "RU",
                                   QStringLiteral("Русский"));
    ToolBar1->addSeparator();
    ToolButtonOpenCfg = button("ToolButtonOpenCfg", QStyle::SP_FileDialogContentsView, "",
                               QStringLiteral("Открыть файл конфигурации"));
    connect(ToolButton1, &QToolButton::clicked, this, &TForm1::ToolButton1Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TForm1::ToolButton3Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TForm1::ToolButton4Click);
    connect(ToolButtonEngLanguage, &QToolButton::clicked, this, &TForm1::ToolButtonEngLanguageClick);
    connect(ToolButtonRusLanguage, &QToolButton::clicked, this, &TForm1::ToolButtonRusLanguageClick);
}

void TForm1::BuildSensorDataPage()
{
    TabSheetSensorData = named(new QWidget, "TabSheetSensorData");
    auto *page = new QVBoxLayout(TabSheetSensorData);
    GroupBox22 = named(new QGroupBox(QStringLiteral("Состояние датчиков"), TabSheetSensorData),
                       "GroupBox22");
    auto *grids = new QHBoxLayout(GroupBox22);
    auto make = [&](const char *name, TextGrid &model) {
        auto *g = new GridView(QString::fromLatin1(name), model, GroupBox22);
        QFont f = g->font();
        f.setPixelSize(16);
        f.setBold(true);
        g->setFont(f);
        g->horizontalHeader()->setFont(f);
        g->setDefaultRowHeight(kSensorDataRowHeight);
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
        g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g->setEditTriggers(QAbstractItemView::NoEditTriggers);
        g->setMouseTracking(true);
        g->viewport()->installEventFilter(this);
        grids->addWidget(g, 0, Qt::AlignTop);
        return g;
    };
    StringGridSensorsData = make("StringGridSensorsData", m_state->sensorsData);
    StringGridSensorsData2 = make("StringGridSensorsData2", m_state->sensorsData2);
    // A text wider than its column widens the column of both grids; measured per changed
    // cell, so a cycle that changes nothing costs nothing here.
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
        connect(&g->grid(), &QAbstractItemModel::dataChanged, this,
                [this, g, metrics = QFontMetrics(g->font())](const QModelIndex &from,
                                                              const QModelIndex &to) {
                    for (int row = from.row(); row <= to.row(); ++row)
                        for (int col = from.column(); col <= to.column(); ++col) {
                            const int want =
                                metrics.horizontalAdvance(g->grid().cell(col, row)) + 12;
                            if (want > g->columnWidth(col))
                                SensorDataLayoutChanged();
                        }
                });
    grids->addStretch();
    page->addWidget(GroupBox22);
    page->addStretch();
    PageControlQOR->addTab(TabSheetSensorData, QStringLiteral("Данные датчиков"));
}

namespace {

QPushButton *button(const char *name, const char *text)
{
    return named(new QPushButton(QString::fromUtf8(text)), QString::fromLatin1(name));
}

QPlainTextEdit *memo(const char *name)
{
    auto *m = named(new QPlainTextEdit, QString::fromLatin1(name));
    m->setReadOnly(true);
    return m;
}

// A settings grid: 30-pixel rows, its own font size.
void settingsLook(GridView *g, int pixelSize, bool bold, int columnWidth)
{
    QFont f = g->font();
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    g->setFont(f);
    g->horizontalHeader()->setFont(f);
    g->setDefaultRowHeight(30);
    g->setDefaultColumnWidth(columnWidth);
}

} // namespace

void TForm1::BuildSensorSettingsPage()
{
    MainState &s = *m_state;
    TabSheetSensorSettings = named(new QWidget, "TabSheetSensorSettings");
    auto *page = new QVBoxLayout(TabSheetSensorSettings);
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
        box->setMinimumHeight(241);
        return box;
    };
    GroupBox23 = pair("GroupBox23", "Из контроллера", "StringGridSensorSettings", s.sensorSettings,
                      "StringGridTagContr", s.tagContr, StringGridSensorSettings, StringGridTagContr);
    StringGridSensorSettings->setSelectionBehavior(QAbstractItemView::SelectRows);
    StringGridSensorSettings->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGridTagContr->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GroupBox27 = pair("GroupBox27", "Пользователь", "StringGridSensorSettingsUser",
                      s.sensorSettingsUser, "StringGridTagUser", s.tagUser,
                      StringGridSensorSettingsUser, StringGridTagUser);
    for (GridView *g : {StringGridSensorSettingsUser, StringGridTagUser})
        g->setEditTriggers(QAbstractItemView::AllEditTriggers);
    ButtonCopySensorSettingsToUser =
        button("ButtonCopySensorSettingsToUser", "Копировать таблицу контроллера в Таблицу пользователя");
    ButtonCopySensorSettingsToUser->setEnabled(false);
    ButtonSelectSensors = button("ButtonSelectSensors", "Выбрать датчики для редактирования");
    ButtonSetZero = button("ButtonSetZero", "Обнулить все ID  в таблице пользователя");
    ButtonDownloadSensorSettingtsToQor =
        button("ButtonDownloadSensorSettingtsToQor", "Загрузить новые данные в контроллер");
    CheckBoxOverWriteID = named(new QCheckBox(QStringLiteral(
                                    "Менять ID в таблице по инкременту даже при наличии текущего в ячейке")),
                                "CheckBoxOverWriteID");
    Memo2 = memo("Memo2");
    Memo2->setFixedSize(420, 90);
    PopupMenuTags = named(new QMenu(StringGridTagUser), "PopupMenuTags");
    QAction *loadTags = PopupMenuTags->addAction(QStringLiteral("Загрузить из файла..."));
    loadTags->setObjectName(QStringLiteral("LoadFromFileItem"));
    StringGridTagUser->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(StringGridTagUser, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
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
    PageControlQOR->addTab(TabSheetSensorSettings, QStringLiteral("Настройки датчиков"));
}

void TForm1::BuildRelaySettingsPage()
{
    MainState &s = *m_state;
    TabSheetRelaySettings = named(new QWidget, "TabSheetRelaySettings");
    auto *page = new QVBoxLayout(TabSheetRelaySettings);
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
    ButtonCopyRelaySettingsToUser =
        button("ButtonCopyRelaySettingsToUser", "Копировать таблицу контроллера в Таблицу пользователя");
    ButtonDownloadRelaySettingsToQor =
        button("ButtonDownloadRelaySettingsToQor", "Загрузить новые данные в контроллер");
    Memo1 = memo("Memo1");
    Memo1->setFixedSize(520, 145);
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
    PageControlQOR->addTab(TabSheetRelaySettings, QStringLiteral("Настройки реле"));
}

void TForm1::BuildConnectPage()
{
    TabSheetConnectSettings = named(new QWidget, "TabSheetConnectSettings");
    auto *page = new QGridLayout(TabSheetConnectSettings);
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
    ComboBoxQorMenuLanguageContr = combo("ComboBoxQorMenuLanguageContr", kMenuLanguageTexts, true, this);
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
    ButtonQorCopyConnectToUser = named(
        new QPushButton(QStringLiteral("Копировать настройки контроллера в настройки пользователя")),
        "ButtonQorCopyConnectToUser");
    ButtonWriteConnectSettingsToQor = named(
        new QPushButton(QStringLiteral("Загрузить новые данные в контроллер")),
        "ButtonWriteConnectSettingsToQor");
    page->addWidget(GroupBox29, 0, 0, Qt::AlignTop);
    page->addWidget(GroupBox25, 0, 1, Qt::AlignTop);
    page->addWidget(ButtonWriteConnectSettingsToQor, 0, 2, Qt::AlignTop);
    page->addWidget(ButtonQorCopyConnectToUser, 1, 0, 1, 2, Qt::AlignLeft | Qt::AlignTop);
    page->setColumnStretch(3, 1);
    page->setRowStretch(2, 1);
    PageControlQOR->addTab(TabSheetConnectSettings, QStringLiteral("Настройки связи и языка устройства"));
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_thread)
        FormShow();
}

void TForm1::FormShow()
{
    Label12->hide();
    PrepareMainWindow();
    m_thread = std::make_unique<QorThread>(*m_state, *m_cycle, this);
    m_thread->start(QThread::IdlePriority);
}

void TForm1::PrepareMainWindow()
{
    GroupBox4->hide();
    GroupBox5->hide();
    m_password->exec();
    ApplyAccessMode(m_password->accessLevel == 1 || m_password->accessLevel == 2);
    PageControlQOR->setCurrentWidget(TabSheetSensorData);
    PageShown(PageControlQOR->currentIndex());
    HideDeviceViews();
    setWindowTitle(kCaption);
    m_state->sensorSettingsUser.setRowCount(2);
    m_state->tagUser.setRowCount(2);
}

void TForm1::ApplyAccessMode(bool full)
{
    m_fullAccess = full;
    if (full)
        return;
    for (QWidget *w : std::initializer_list<QWidget *>{
             GroupBox27, ButtonCopySensorSettingsToUser, ButtonSelectSensors,
             ButtonDownloadSensorSettingtsToQor, ButtonSetZero, CheckBoxOverWriteID,
             ButtonCopyRelaySettingsToUser, GroupBox28, ButtonDownloadRelaySettingsToQor, GroupBox25,
             ButtonQorCopyConnectToUser, ButtonWriteConnectSettingsToQor})
        w->hide();
    PageControlQOR->setTabEnabled(PageControlQOR->indexOf(TabSheetProfiles), false);
    for (QToolButton *b : {ToolButtonQorLoadProfileToController, ToolButtonQorSaveProfile,
                           ToolButtonQorOpenProfile})
        b->setEnabled(false);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // FormCloseQuery/FormClose: stop the poll thread, then close the port. A step that is
    // running (its read lets this event in) must return first, so the close waits for the
    // thread's end instead of pumping messages beneath that step.
    if (m_thread && m_thread->isRunning()) {
        event->ignore();
        if (!m_closing) {
            m_closing = true;
            connect(m_thread.get(), &QThread::finished, this, &QWidget::close, Qt::QueuedConnection);
            m_thread->RequestStop();
        }
        return;
    }
    m_state->link.ClosePort();
    event->accept();
}

void TForm1::PageShown(int index)
{
    MainState &s = *m_state;
    QWidget *page = PageControlQOR->widget(index);
    if (page == TabSheetSensorData)
        s.SensorDataShown();
    else if (page == TabSheetSensorSettings)
        s.SensorSettingsShown();
    else if (page == TabSheetRelaySettings)
        s.RelaySettingsShown();
    else if (page == TabSheetConnectSettings)
        s.ConnectSettingsShown();
    else if (page == TabSheetProfiles)
        s.ProfilesShown();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseMove) {
        for (GridView *g : {StringGridSensorsData, StringGridSensorsData2})
            if (watched == g->viewport())
                SensorsDataMouseMove(g, static_cast<QMouseEvent *>(event)->position().toPoint().x());
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::SensorsDataMouseMove(GridView *grid, int x)
{
    // The hint explains the time column only.
    const int timeColumn = grid->columnWidth(3);
    grid->setToolTip(x > grid->viewport()->width() - timeColumn ? m_state->Text(Msg::n73) : QString());
}

void TForm1::ToolButton1Click()
{
    if (!m_conpar->Edit())
        return;
    m_state->SaveSettings();
    m_state->portSettingsChanged = true;
}

void TForm1::ToolButton3Click() { m_state->linkInterruptedByUser = true; }

void TForm1::ToolButton4Click() { m_state->linkInterruptedByUser = false; }

void TForm1::ToolButtonEngLanguageClick() { m_state->SwitchLanguage(1); }

void TForm1::ToolButtonRusLanguageClick() { m_state->SwitchLanguage(0); }

void TForm1::ShowStatus(int panel, const QString &text)
{
    if (panel >= 0 && panel < 4)
        StatusBar1Panel[panel]->setText(text);
}

void TForm1::ShowLamp(Lamp lamp)
{
    Shape1->setColor(lamp == Lamp::Online ? kLime : kGrey);
    StringGridQorRelay->viewport()->update();
}

void TForm1::ShowCycleTime(const QString &text) { Label12->setText(text); }

void TForm1::ShowMessage(const QString &caption, const QString &text, Icon icon)
{
    ShowMessageBox(caption, text, static_cast<MessageIcon>(icon));
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

void TForm1::HideDeviceViews()
{
    PageControlQOR->hide();
    GroupBox26->hide();
    for (QToolButton *b : {ToolButton4, ToolButton3, ToolButtonQorOpenProfile,
                           ToolButtonQorSaveProfile, ToolButtonQorLoadProfileToController})
        b->setEnabled(false);
}

void TForm1::ShowDeviceViews()
{
    GroupBox4->hide();
    GroupBox5->hide();
    PageControlQOR->show();
    GroupBox26->show();
    ToolButton4->setEnabled(true);
    ToolButton3->setEnabled(true);
    // Without the password the profile buttons stay off: nothing may reach the controller.
    for (QToolButton *b : {ToolButtonQorOpenProfile, ToolButtonQorSaveProfile,
                           ToolButtonQorLoadProfileToController})
        b->setEnabled(m_fullAccess);
    const bool tags = m_state->firmwareVersion >= kFirstTagFirmware;
    StringGridTagContr->setVisible(tags);
    StringGridTagUser->setVisible(tags);
}

void TForm1::ApplyCaptions()
{
    MainState &s = *m_state;
    auto t = [&](const char *key, const char *def) { return s.Text(key, QString::fromUtf8(def)); };
    ToolButton1->setToolTip(t("n1", "Настройки связи программы"));
    ToolButton3->setToolTip(t("n2", "Прервать связь"));
    ToolButton4->setToolTip(t("n3", "Восстановить связь"));
    ToolButtonQorOpenProfile->setToolTip(t("n4", "Загрузить настройки из файла профиля"));
    ToolButtonQorSaveProfile->setToolTip(t("n5", "Сохранить текущие настройки пользователя в файл профиля"));
    ToolButtonQorLoadProfileToController->setToolTip(
        t("n6", "Загрузить текущий профиль из таблиц в контроллер"));
    Label1->setText(t("n7", "Модуль на связи"));
    GroupBox26->setTitle(t("n8", "Состояние реле"));
    PageControlQOR->setTabText(PageControlQOR->indexOf(TabSheetSensorData), t("n10", "Данные датчиков"));
    GroupBox22->setTitle(t("n11", "Состояние датчиков"));
    PageControlQOR->setTabText(PageControlQOR->indexOf(TabSheetSensorSettings),
                               t("n16", "Настройки датчиков"));
    GroupBox23->setTitle(t("n17", "Из контроллера"));
    GroupBox27->setTitle(t("n18", "Пользователь"));
    ButtonCopySensorSettingsToUser->setText(t("n19", "Копировать таблицу контроллера в Таблицу пользователя"));
    ButtonSelectSensors->setText(t("n20", "Выбрать датчики для редактирования"));
    ButtonDownloadSensorSettingtsToQor->setText(t("n21", "Загрузить новые данные в контроллер"));
    ButtonSetZero->setText(t("n120", "Обнулить все ID  в таблице пользователя"));
    CheckBoxOverWriteID->setText(t("n121", "Менять ID в таблице по инкременту даже при наличии текущего в ячейке"));
    const QString section = QStringLiteral("_lang") +
                            QString::number(s.settingsIni.readInteger("language", "lang", 0));
    Memo2->setPlainText(s.settingsIni.sectionLines(QStringLiteral("Memo2") + section).join(u'\n'));
    PageControlQOR->setTabText(PageControlQOR->indexOf(TabSheetRelaySettings), t("n33", "Настройки реле"));
    GroupBox24->setTitle(t("n17", "Из контроллера"));
    GroupBox28->setTitle(t("n18", "Пользователь"));
    ButtonCopyRelaySettingsToUser->setText(t("n19", "Копировать таблицу контроллера в Таблицу пользователя"));
    ButtonDownloadRelaySettingsToQor->setText(t("n21", "Загрузить новые данные в контроллер"));
    Memo1->setPlainText(s.settingsIni.sectionLines(QStringLiteral("Memo1") + section).join(u'\n'));
    PageControlQOR->setTabText(PageControlQOR->indexOf(TabSheetConnectSettings),
                               t("n40", "Настройки связи и языка устройства"));
    GroupBox29->setTitle(t("n41", "Настройки связи контроллер"));
    GroupBox25->setTitle(t("n42", "Настройки связи пользователь"));
    ButtonQorCopyConnectToUser->setText(t("n49", "Копировать настройки контроллера в настройки пользователя"));
    ButtonWriteConnectSettingsToQor->setText(t("n21", "Загрузить новые данные в контроллер"));
    Label43->setText(t("n43", "Адрес модуля"));
    Label44->setText(t("n44", "Скорость, бит/с"));
    Label45->setText(t("n45", "Паритет"));
    Label47->setText(t("n46", "Кол-во стоп-битов"));
    Label46->setText(t("n47", "Номер канала"));
    Label48->setText(t("n48", "Язык меню"));
    Label35->setText(Label43->text());
    Label37->setText(Label44->text());
    Label38->setText(Label45->text());
    Label40->setText(Label47->text());
    Label39->setText(Label46->text());
    Label42->setText(Label48->text());
    PageControlQOR->setTabText(PageControlQOR->indexOf(TabSheetProfiles), t("n50", "Профили"));
    m_conpar->ApplyLanguage();
    m_select->ApplyLanguage([&](const char *key, const char *def) { return t(key, def); });
}

void TForm1::ShowControllerConnectSettings()
{
    const ConnectControls &c = m_state->connectContr;
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

int TForm1::SensorSettingsVisibleRows() { return StringGridSensorSettings->fullyVisibleRows(); }

void TForm1::EnableSensorSettingsCopy(bool enabled)
{
    // A write-back running keeps it off; it comes back from the state when that ends.
    ButtonCopySensorSettingsToUser->setEnabled(enabled && !m_writeBackRunning);
}

void TForm1::ShowProgress(const QString &text)
{
    Panel10->setText(text);
    Panel10->show();
}

void TForm1::HideProgress() { Panel10->hide(); }

void TForm1::SetWriteBackRunning(bool running)
{
    if (running == m_writeBackRunning)
        return;
    m_writeBackRunning = running;
    if (!running) {
        for (const QPointer<QWidget> &w : std::as_const(m_writeBackBlocked))
            if (w)
                w->setEnabled(true);
        m_writeBackBlocked.clear();
        EnableSensorSettingsCopy(m_state->sensorSettingsCopyEnabled);
        return;
    }
    // Found by name, so that it holds whichever page class owns the widget.
    static const char *const kFeeding[] = {
        "StringGridSensorSettingsUser", "StringGridTagUser", "ButtonCopySensorSettingsToUser",
        "ButtonSelectSensors", "ButtonSetZero", "ButtonDownloadSensorSettingtsToQor",
        "StringGridRelaySettingsUser", "ButtonCopyRelaySettingsToUser",
        "ButtonDownloadRelaySettingsToQor", "EditQorAddr", "ComboBoxQorBaudRate",
        "ComboBoxQorParity", "ComboBoxQorStops", "EditQorChan", "ComboBoxQorMenuLanguage",
        "ButtonQorCopyConnectToUser", "ButtonWriteConnectSettingsToQor",
        "ToolButtonQorOpenProfile", "ToolButtonQorLoadProfileToController"};
    for (const char *name : kFeeding) {
        QWidget *w = findChild<QWidget *>(QString::fromLatin1(name));
        if (w && !w->testAttribute(Qt::WA_ForceDisabled)) {
            w->setEnabled(false);
            m_writeBackBlocked.append(w);
        }
    }
}

void TForm1::ButtonCopySensorSettingsToUserClick()
{
    CopyGridToGrid(m_state->sensorSettings, m_state->sensorSettingsUser);
    CopyGridToGrid(m_state->tagContr, m_state->tagUser);
}

void TForm1::ButtonSelectSensorsClick()
{
    MainState &s = *m_state;
    const int maxSensors = s.registerMap.MAX_SENSORS;
    const QString word = s.Text(Msg::n32);
    m_select->Prepare(word, maxSensors);
    const QList<bool> ticks = SensorTicks(s.sensorSettingsUser, maxSensors);
    for (int i = 0; i < maxSensors && i < TFormQorSelectSensors::kBoxes; ++i)
        m_select->sensorCheckBoxes[i]->setChecked(i < ticks.size() && ticks[i]);
    m_select->exec();
    if (!m_select->selectionConfirmed)
        return;
    QList<bool> chosen;
    for (int i = 0; i < maxSensors && i < TFormQorSelectSensors::kBoxes; ++i)
        chosen.append(m_select->sensorCheckBoxes[i]->isChecked());
    ApplySensorSelection(s.sensorSettingsUser, s.tagUser, chosen, maxSensors, word);
}

void TForm1::ButtonSetZeroClick() { SetZero(m_state->sensorSettingsUser); }

void TForm1::ButtonDownloadSensorSettingtsToQorClick()
{
    MainState &s = *m_state;
    if (!s.linkUp)
        return;
    int faultRow = 0;
    if (ValidateSensorSettings(s.sensorSettingsUser, s.sensorSettings, s.deviceIni, s.settingsIni,
                               s.registerMap.MAX_SENSORS,
                               [this](const QString &c, const QString &t) { ShowMessageNoIcon(c, t); },
                               &faultRow)) {
        s.writeSensorSettingsRequested = true;
    } else if (faultRow > 0) {
        StringGridSensorSettingsUser->setCurrentIndex(s.sensorSettingsUser.index(faultRow, 1));
    }
}

void TForm1::ButtonCopyRelaySettingsToUserClick()
{
    CopyRelayRows(m_state->relaySettings, m_state->relaySettingsUser);
}

void TForm1::ButtonDownloadRelaySettingsToQorClick()
{
    MainState &s = *m_state;
    if (s.linkUp &&
        ValidateRelaySettings(s.relaySettingsUser, s.relaySettings, s.deviceIni, s.settingsIni,
                              [this](const QString &c, const QString &t) { ShowMessageNoIcon(c, t); }))
        s.writeRelaySettingsRequested = true;
}

void TForm1::ButtonQorCopyConnectToUserClick()
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

namespace {

// A user-side combo box counts only a chosen list item: typed text is no choice.
int chosenItem(const QComboBox *box)
{
    const int i = box->currentIndex();
    return i >= 0 && box->currentText() == box->itemText(i) ? i : -1;
}

} // namespace

void TForm1::ButtonWriteConnectSettingsToQorClick()
{
    MainState &s = *m_state;
    if (!s.linkUp)
        return;
    const ConnectUserValues values{EditQorAddr->text(),         chosenItem(ComboBoxQorBaudRate),
                                   chosenItem(ComboBoxQorParity), chosenItem(ComboBoxQorStops),
                                   EditQorChan->text(),         chosenItem(ComboBoxQorMenuLanguage)};
    const auto show = [this](const QString &c, const QString &t) { ShowMessageNoIcon(c, t); };
    if (ValidateConnectSettings(values, s.settingsIni, show)) {
        s.connectUser = values; // what the write sends
        s.writeConnectSettingsRequested = true;
    }
}

void TForm1::LoadFromFileItemClick()
{
    // The file dialog may change the working directory; start.ini, Cfg and Trends rely on it.
    const QString folder = QDir::currentPath();
    const QString path = QFileDialog::getOpenFileName(this, QString(), folder);
    QDir::setCurrent(folder);
    if (path.isEmpty())
        return;
    MainState &s = *m_state;
    LoadTagFile(path, s.tagUser, s.registerMap.QOR_SENSOR_TAG_SIZE, s.settingsIni,
                [this](const QString &c, const QString &t) { ShowMessageNoIcon(c, t); });
}

void TForm1::SensorDataLayoutChanged()
{
    // Both grids show all their rows, and columns wide enough for the longest text of
    // either grid (design widths at least); the group box follows the left grid.
    const int design[] = {120, 88, 151, 82};
    const QFontMetrics metrics(StringGridSensorsData->font());
    const int cols = StringGridSensorsData->model()->columnCount();
    for (int c = 0; c < cols; ++c) {
        int width = c < 4 ? design[c] : 88;
        for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
            width = qMax(width, g->horizontalHeader()->sectionSizeHint(c));
            for (int row = 1; row < g->grid().rowCountGrid(); ++row)
                width = qMax(width, metrics.horizontalAdvance(g->grid().cell(c, row)) + 12);
        }
        StringGridSensorsData->setColumnWidth(c, width);
        StringGridSensorsData2->setColumnWidth(c, width);
    }
    for (GridView *g : {StringGridSensorsData, StringGridSensorsData2}) {
        g->setFixedHeight(g->grid().rowCountGrid() * kSensorDataRowHeight + 4);
        int w = 4;
        for (int c = 0; c < g->model()->columnCount(); ++c)
            w += g->columnWidth(c);
        g->setFixedWidth(w);
    }
    GroupBox22->setFixedHeight(m_state->sensorsData.rowCountGrid() * kSensorDataRowHeight + 40);
}
