#include "EventsView.h"

#include "EventsCsv.h"
#include "HistoryService.h"
#include "HistoryStore.h"
#include "HistoryViewTexts.h"
#include "MainState.h"
#include "SaveAsk.h"
#include "Widgets.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <set>

namespace {

const QColor kWaitingBackground(255, 205, 205);
const QColor kAlarmText(170, 0, 0);

// The periods offered, in the order of the box; 0 = all time, -1 = the dates given.
constexpr qint64 kHourMs = 3600 * 1000;
constexpr qint64 kPeriodsMs[] = {kHourMs, 24 * kHourMs, 7 * 24 * kHourMs, 30 * 24 * kHourMs, 0, -1};
constexpr int kDefaultPeriod = 2;
// The kind box: every kind, alarms only, then each kind.
constexpr int kAllKinds = -1;
constexpr int kAlarmsOnly = -2;

QString ShownTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

EventsModel::EventsModel(MainState &state, QObject *parent)
    : QAbstractTableModel(parent), m_state(state)
{
}

void EventsModel::SetEvents(std::vector<HistoryEvent> events,
                            std::vector<HistoryControllerRow> controllers)
{
    beginResetModel();
    m_events = std::move(events);
    m_controllers = std::move(controllers);
    endResetModel();
}

void EventsModel::ApplyTexts()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!m_events.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

int EventsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_events.size());
}

int EventsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString EventsModel::Cell(int row, int column) const
{
    const HistoryEvent &e = m_events[size_t(row)];
    const MemIniFile &ini = m_state.settingsIni;
    switch (column) {
    case Time:
        return ShownTime(e.timeMs);
    case Kind:
        return HistoryEventKindText(e.kind, ini);
    case Controller:
        return HistoryControllerText(e.controller, m_controllers);
    case Subject:
        return HistoryEventSubject(e);
    case Text:
        return HistoryEventText(e, ini);
    case Alarm:
        return e.alarm ? m_state.Text(Msg::n605) : QString();
    case Acknowledged:
        return e.acknowledgedMs > 0 ? ShownTime(e.acknowledgedMs) : QString();
    default:
        return QString();
    }
}

QString EventsModel::RowText(int row) const
{
    QStringList cells;
    for (int c = 0; c < ColumnCount; ++c)
        cells << Cell(row, c);
    return cells.join(u'\t');
}

QVariant EventsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const HistoryEvent &e = m_events[size_t(index.row())];
    const bool waiting = e.alarm && e.acknowledgedMs == 0;
    switch (role) {
    case Qt::DisplayRole:
        return Cell(index.row(), index.column());
    case Qt::BackgroundRole:
        return waiting ? QVariant(kWaitingBackground) : QVariant();
    case Qt::ForegroundRole:
        return e.alarm ? QVariant(kAlarmText) : QVariant();
    case Qt::FontRole:
        if (waiting) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    case EventIdRole:
        return e.id;
    case WaitingAlarmRole:
        return waiting;
    default:
        return {};
    }
}

QVariant EventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const TextKey *const keys[] = {&Msg::n600, &Msg::n601, &Msg::n602, &Msg::n603,
                                          &Msg::n604, &Msg::n605, &Msg::n606};
    return section >= 0 && section < ColumnCount ? m_state.Text(*keys[section]) : QString();
}

EventsView::EventsView(MainState &state, HistoryStore *store, QWidget *parent)
    : QWidget(parent, Qt::Window), m_state(state), m_store(store)
{
    setObjectName(QStringLiteral("EventsView"));
    m_model = new EventsModel(state, this);

    LabelEventsKind = named(new QLabel(this), QStringLiteral("LabelEventsKind"));
    ComboBoxEventsKind = named(new QComboBox(this), QStringLiteral("ComboBoxEventsKind"));
    LabelEventsSubject = named(new QLabel(this), QStringLiteral("LabelEventsSubject"));
    SpinBoxEventsSubject = named(new QSpinBox(this), QStringLiteral("SpinBoxEventsSubject"));
    SpinBoxEventsSubject->setRange(0, 255);
    LabelEventsController = named(new QLabel(this), QStringLiteral("LabelEventsController"));
    ComboBoxEventsController =
        named(new QComboBox(this), QStringLiteral("ComboBoxEventsController"));
    ComboBoxEventsController->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    LabelEventsPeriod = named(new QLabel(this), QStringLiteral("LabelEventsPeriod"));
    ComboBoxEventsPeriod = named(new QComboBox(this), QStringLiteral("ComboBoxEventsPeriod"));
    LabelEventsFrom = named(new QLabel(this), QStringLiteral("LabelEventsFrom"));
    LabelEventsTo = named(new QLabel(this), QStringLiteral("LabelEventsTo"));
    DateTimeEventsFrom = named(new QDateTimeEdit(this), QStringLiteral("DateTimeEventsFrom"));
    DateTimeEventsTo = named(new QDateTimeEdit(this), QStringLiteral("DateTimeEventsTo"));
    const QDateTime now = QDateTime::currentDateTime();
    DateTimeEventsFrom->setDateTime(now.addDays(-1));
    DateTimeEventsTo->setDateTime(now);
    for (QDateTimeEdit *e : {DateTimeEventsFrom, DateTimeEventsTo}) {
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        e->setCalendarPopup(true);
    }
    auto *filters = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{
             LabelEventsKind, ComboBoxEventsKind, LabelEventsSubject, SpinBoxEventsSubject,
             LabelEventsController, ComboBoxEventsController, LabelEventsPeriod,
             ComboBoxEventsPeriod, LabelEventsFrom, DateTimeEventsFrom, LabelEventsTo,
             DateTimeEventsTo})
        filters->addWidget(w);
    filters->addStretch();

    ButtonEventsAcknowledge = named(new QPushButton(this), QStringLiteral("ButtonEventsAcknowledge"));
    ButtonEventsAcknowledgeAll =
        named(new QPushButton(this), QStringLiteral("ButtonEventsAcknowledgeAll"));
    ButtonEventsCopy = named(new QPushButton(this), QStringLiteral("ButtonEventsCopy"));
    ButtonEventsExport = named(new QPushButton(this), QStringLiteral("ButtonEventsExport"));
    LabelEventsCount = named(new QLabel(this), QStringLiteral("LabelEventsCount"));
    LabelEventsNoStore = named(new QLabel(this), QStringLiteral("LabelEventsNoStore"));
    LabelEventsNoStore->setVisible(!store);
    auto *actions = new QHBoxLayout;
    actions->addWidget(ButtonEventsAcknowledge);
    actions->addWidget(ButtonEventsAcknowledgeAll);
    actions->addWidget(LabelEventsNoStore);
    actions->addStretch();
    actions->addWidget(LabelEventsCount);
    actions->addWidget(ButtonEventsCopy);
    actions->addWidget(ButtonEventsExport);

    TableEvents = named(new QTableView(this), QStringLiteral("TableEvents"));
    TableEvents->setModel(m_model);
    TableEvents->setSelectionBehavior(QAbstractItemView::SelectRows);
    TableEvents->setSelectionMode(QAbstractItemView::ExtendedSelection);
    TableEvents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TableEvents->setWordWrap(false);
    TableEvents->verticalHeader()->hide();
    TableEvents->verticalHeader()->setDefaultSectionSize(TableEvents->fontMetrics().height() + 6);
    TableEvents->horizontalHeader()->setStretchLastSection(false);
    TableEvents->horizontalHeader()->setSectionResizeMode(EventsModel::Text, QHeaderView::Stretch);

    auto *top = new QVBoxLayout(this);
    top->addLayout(filters);
    top->addWidget(TableEvents, 1);
    top->addLayout(actions);

    auto refresh = [this] { Refresh(); };
    connect(ComboBoxEventsKind, &QComboBox::activated, this, refresh);
    connect(ComboBoxEventsController, &QComboBox::activated, this, refresh);
    connect(SpinBoxEventsSubject, &QSpinBox::valueChanged, this, refresh);
    connect(ComboBoxEventsPeriod, &QComboBox::activated, this, &EventsView::PeriodChosen);
    connect(DateTimeEventsFrom, &QDateTimeEdit::dateTimeChanged, this, refresh);
    connect(DateTimeEventsTo, &QDateTimeEdit::dateTimeChanged, this, refresh);
    connect(ButtonEventsAcknowledge, &QPushButton::clicked, this, &EventsView::AcknowledgeSelected);
    connect(ButtonEventsAcknowledgeAll, &QPushButton::clicked, this, &EventsView::AcknowledgeAll);
    connect(ButtonEventsCopy, &QPushButton::clicked, this, [this] {
        const QString text = SelectedText();
        if (!text.isEmpty())
            QApplication::clipboard()->setText(text);
    });
    connect(ButtonEventsExport, &QPushButton::clicked, this, &EventsView::ExportCsv);
    if (store) {
        connect(store, &HistoryStore::eventsAdded, this, &EventsView::StoreChanged);
        connect(store, &HistoryStore::alarmsChanged, this, &EventsView::StoreChanged);
    }
    for (QWidget *w : std::initializer_list<QWidget *>{
             ComboBoxEventsKind, SpinBoxEventsSubject, ComboBoxEventsController,
             ComboBoxEventsPeriod, ButtonEventsAcknowledge, ButtonEventsAcknowledgeAll,
             ButtonEventsExport})
        w->setEnabled(store != nullptr);
    ApplyCaptions();
    ComboBoxEventsPeriod->setCurrentIndex(kDefaultPeriod);
    PeriodChosen();
    resize(1200, 600);
}

QString EventsView::Text(const TextKey &key) const { return m_state.Text(key); }

void EventsView::ApplyCaptions()
{
    setWindowTitle(Text(Msg::n580));
    LabelEventsKind->setText(Text(Msg::n601) + u':');
    LabelEventsSubject->setText(Text(Msg::n583));
    SpinBoxEventsSubject->setSpecialValueText(Text(Msg::n584));
    LabelEventsController->setText(Text(Msg::n585));
    LabelEventsPeriod->setText(Text(Msg::n587));
    LabelEventsFrom->setText(Text(Msg::n594));
    LabelEventsTo->setText(Text(Msg::n595));
    ButtonEventsAcknowledge->setText(Text(Msg::n596));
    ButtonEventsAcknowledgeAll->setText(Text(Msg::n597));
    ButtonEventsCopy->setText(Text(Msg::n598));
    ButtonEventsExport->setText(Text(Msg::n599));
    LabelEventsNoStore->setText(Text(Msg::n609));

    // The kinds by their data: the choice survives a change of language.
    const int kind = ComboBoxEventsKind->currentIndex() < 0
                         ? kAllKinds
                         : ComboBoxEventsKind->currentData().toInt();
    ComboBoxEventsKind->clear();
    ComboBoxEventsKind->addItem(Text(Msg::n581), kAllKinds);
    ComboBoxEventsKind->addItem(Text(Msg::n582), kAlarmsOnly);
    for (int k = int(EventKind::SensorStatus); k <= int(EventKind::AlarmAcknowledged); ++k)
        ComboBoxEventsKind->addItem(HistoryEventKindText(EventKind(k), m_state.settingsIni), k);
    ComboBoxEventsKind->setCurrentIndex(std::max(0, ComboBoxEventsKind->findData(kind)));

    const int period = std::max(0, ComboBoxEventsPeriod->currentIndex());
    ComboBoxEventsPeriod->clear();
    for (const TextKey &k : {Msg::n588, Msg::n589, Msg::n590, Msg::n591, Msg::n592, Msg::n593})
        ComboBoxEventsPeriod->addItem(Text(k));
    ComboBoxEventsPeriod->setCurrentIndex(period);
    FillControllers();
    m_model->ApplyTexts();
    LabelEventsCount->setText(LookupText(m_state.settingsIni, "n252", QStringLiteral("Строк: ")) +
                              QString::number(m_model->rowCount()));
}

void EventsView::FillControllers()
{
    const int chosen = ComboBoxEventsController->currentIndex() < 0
                           ? 0
                           : ComboBoxEventsController->currentData().toInt();
    const QSignalBlocker quiet(ComboBoxEventsController);
    ComboBoxEventsController->clear();
    ComboBoxEventsController->addItem(Text(Msg::n586), 0);
    if (m_store) {
        const std::vector<HistoryControllerRow> rows = m_store->Controllers();
        for (const HistoryControllerRow &r : rows)
            ComboBoxEventsController->addItem(HistoryControllerText(r.id, rows), r.id);
    }
    ComboBoxEventsController->setCurrentIndex(
        std::max(0, ComboBoxEventsController->findData(chosen)));
}

void EventsView::PeriodChosen()
{
    const bool custom = kPeriodsMs[std::clamp(ComboBoxEventsPeriod->currentIndex(), 0, 5)] < 0;
    for (QWidget *w : std::initializer_list<QWidget *>{LabelEventsFrom, DateTimeEventsFrom,
                                                       LabelEventsTo, DateTimeEventsTo})
        w->setVisible(custom);
    Refresh();
}

EventFilter EventsView::Filter() const
{
    EventFilter f;
    const qint64 span = kPeriodsMs[std::clamp(ComboBoxEventsPeriod->currentIndex(), 0, 5)];
    if (span > 0) {
        f.fromMs = QDateTime::currentMSecsSinceEpoch() - span;
    } else if (span < 0) {
        f.fromMs = DateTimeEventsFrom->dateTime().toMSecsSinceEpoch();
        f.toMs = DateTimeEventsTo->dateTime().toMSecsSinceEpoch();
    }
    const int kind = ComboBoxEventsKind->currentData().toInt();
    if (kind == kAlarmsOnly)
        f.alarmsOnly = true;
    else if (kind > 0)
        f.kinds = {EventKind(kind)};
    f.subject = SpinBoxEventsSubject->value();
    // The number of a sensor or relay: a write's or an acknowledgement's own number is
    // kept in the same field and is no sensor's.
    if (f.subject > 0 && f.kinds.empty())
        f.kinds = {EventKind::SensorStatus, EventKind::RelaySwitched};
    f.controller = ComboBoxEventsController->currentData().toInt();
    f.limit = kRowLimit;
    return f;
}

void EventsView::Refresh()
{
    m_stale = false;
    if (!m_store)
        return;
    FillControllers();
    // The selection is kept by event, not by row: new events come in at the top.
    std::set<qint64> selected;
    for (const QModelIndex &i : TableEvents->selectionModel()->selectedRows())
        selected.insert(i.data(EventsModel::EventIdRole).toLongLong());
    m_model->SetEvents(m_store->Events(Filter()), m_store->Controllers());
    if (!selected.empty()) {
        QItemSelection keep;
        for (int r = 0; r < m_model->rowCount(); ++r)
            if (selected.count(m_model->events()[size_t(r)].id))
                keep.select(m_model->index(r, 0), m_model->index(r, EventsModel::ColumnCount - 1));
        TableEvents->selectionModel()->select(keep, QItemSelectionModel::Select);
    }
    LabelEventsCount->setText(LookupText(m_state.settingsIni, "n252", QStringLiteral("Строк: ")) +
                              QString::number(m_model->rowCount()));
    if (!m_sized && m_model->rowCount() > 0) {
        m_sized = true; // once: the user's widths stay
        TableEvents->resizeColumnsToContents();
        TableEvents->horizontalHeader()->setSectionResizeMode(EventsModel::Text,
                                                              QHeaderView::Stretch);
    }
}

void EventsView::StoreChanged()
{
    // Hidden, it reads nothing until shown again.
    if (isVisible())
        Refresh();
    else
        m_stale = true;
}

void EventsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale || kPeriodsMs[std::clamp(ComboBoxEventsPeriod->currentIndex(), 0, 5)] >= 0)
        Refresh(); // a relative period has moved on meanwhile
}

void EventsView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        ButtonEventsCopy->click();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QString EventsView::SelectedText() const
{
    std::set<int> rows;
    for (const QModelIndex &i : TableEvents->selectionModel()->selectedIndexes())
        rows.insert(i.row());
    QStringList lines;
    for (int r : rows)
        lines << m_model->RowText(r);
    return lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n';
}

void EventsView::AcknowledgeSelected()
{
    if (!m_store)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (const QModelIndex &i : TableEvents->selectionModel()->selectedRows())
        if (i.data(EventsModel::WaitingAlarmRole).toBool())
            m_store->Acknowledge(i.data(EventsModel::EventIdRole).toLongLong(), now);
}

void EventsView::AcknowledgeAll()
{
    if (m_store)
        m_store->Acknowledge(0, QDateTime::currentMSecsSinceEpoch());
}

bool EventsView::SaveTo(const QString &path, QString *error) const
{
    return WriteEventsCsv(path, m_model->events(), m_model->controllers(), m_state.settingsIni,
                          error);
}

void EventsView::ExportCsv()
{
    AskFileToWrite(this, m_state.settingsIni, QStringLiteral("EventsSaveDialog"), Text(Msg::n618),
                   LookupText(m_state.settingsIni, "n458", QStringLiteral("Файлы CSV (*.csv)")),
                   QStringLiteral("csv"), QStringLiteral("events.csv"),
                   [this](const QString &path, QString *error) { return SaveTo(path, error); });
}
