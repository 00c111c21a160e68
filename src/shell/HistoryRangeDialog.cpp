#include "HistoryRangeDialog.h"

#include "HistoryViewTexts.h"
#include "Widgets.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000;
// The periods of the box in order; -1: the dates given.
constexpr qint64 kPeriodsMs[] = {kDayMs, 7 * kDayMs, 30 * kDayMs, -1};

} // namespace

HistoryRangeDialog::HistoryRangeDialog(const MemIniFile &settings, QWidget *parent)
    : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("HistoryRangeDialog"));
    LabelHistoryPeriod = named(new QLabel(this), QStringLiteral("LabelHistoryPeriod"));
    ComboBoxHistoryPeriod = named(new QComboBox(this), QStringLiteral("ComboBoxHistoryPeriod"));
    LabelHistoryFrom = named(new QLabel(this), QStringLiteral("LabelHistoryFrom"));
    LabelHistoryTo = named(new QLabel(this), QStringLiteral("LabelHistoryTo"));
    DateTimeHistoryFrom = named(new QDateTimeEdit(this), QStringLiteral("DateTimeHistoryFrom"));
    DateTimeHistoryTo = named(new QDateTimeEdit(this), QStringLiteral("DateTimeHistoryTo"));
    const QDateTime now = QDateTime::currentDateTime();
    DateTimeHistoryFrom->setDateTime(now.addDays(-1));
    DateTimeHistoryTo->setDateTime(now);
    for (QDateTimeEdit *e : {DateTimeHistoryFrom, DateTimeHistoryTo}) {
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
        e->setCalendarPopup(true);
    }
    auto *grid = new QGridLayout;
    grid->addWidget(LabelHistoryPeriod, 0, 0);
    grid->addWidget(ComboBoxHistoryPeriod, 0, 1);
    grid->addWidget(LabelHistoryFrom, 1, 0);
    grid->addWidget(DateTimeHistoryFrom, 1, 1);
    grid->addWidget(LabelHistoryTo, 2, 0);
    grid->addWidget(DateTimeHistoryTo, 2, 1);
    auto *buttons = new QDialogButtonBox(this);
    ButtonHistoryShow = named(buttons->addButton(QString(), QDialogButtonBox::AcceptRole),
                              QStringLiteral("ButtonHistoryShow"));
    ButtonHistoryTrend = named(buttons->addButton(QString(), QDialogButtonBox::ActionRole),
                               QStringLiteral("ButtonHistoryTrend"));
    ButtonHistoryCsv = named(buttons->addButton(QString(), QDialogButtonBox::ActionRole),
                             QStringLiteral("ButtonHistoryCsv"));
    ButtonHistoryClose = named(buttons->addButton(QDialogButtonBox::Close),
                               QStringLiteral("ButtonHistoryClose"));
    auto *top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(buttons);
    connect(ComboBoxHistoryPeriod, &QComboBox::activated, this, &HistoryRangeDialog::PeriodChosen);
    connect(ButtonHistoryShow, &QPushButton::clicked, this, [this] {
        const auto [from, to] = Range();
        accept();
        emit showWanted(from, to);
    });
    connect(ButtonHistoryTrend, &QPushButton::clicked, this, [this] {
        const auto [from, to] = Range();
        emit trendWanted(from, to);
    });
    connect(ButtonHistoryCsv, &QPushButton::clicked, this, [this] {
        const auto [from, to] = Range();
        emit csvWanted(from, to);
    });
    connect(ButtonHistoryClose, &QPushButton::clicked, this, &QDialog::reject);
    ApplyCaptions();
    ComboBoxHistoryPeriod->setCurrentIndex(0);
    PeriodChosen();
}

void HistoryRangeDialog::ApplyCaptions()
{
    auto t = [&](const TextKey &k) { return LookupText(m_settings, k); };
    setWindowTitle(t(Msg::n611));
    LabelHistoryPeriod->setText(t(Msg::n587));
    LabelHistoryFrom->setText(t(Msg::n594));
    LabelHistoryTo->setText(t(Msg::n595));
    ButtonHistoryShow->setText(t(Msg::n612));
    ButtonHistoryTrend->setText(t(Msg::n613));
    ButtonHistoryCsv->setText(t(Msg::n614));
    const int period = std::max(0, ComboBoxHistoryPeriod->currentIndex());
    ComboBoxHistoryPeriod->clear();
    for (const TextKey &k : {Msg::n589, Msg::n590, Msg::n591, Msg::n593})
        ComboBoxHistoryPeriod->addItem(t(k));
    ComboBoxHistoryPeriod->setCurrentIndex(period);
}

void HistoryRangeDialog::PeriodChosen()
{
    const bool custom = kPeriodsMs[std::clamp(ComboBoxHistoryPeriod->currentIndex(), 0, 3)] < 0;
    DateTimeHistoryFrom->setEnabled(custom);
    DateTimeHistoryTo->setEnabled(custom);
    if (!custom) {
        const auto [from, to] = Range();
        DateTimeHistoryFrom->setDateTime(QDateTime::fromMSecsSinceEpoch(from));
        DateTimeHistoryTo->setDateTime(QDateTime::fromMSecsSinceEpoch(to));
    }
}

std::pair<qint64, qint64> HistoryRangeDialog::Range() const
{
    const qint64 span = kPeriodsMs[std::clamp(ComboBoxHistoryPeriod->currentIndex(), 0, 3)];
    if (span > 0) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        return {now - span, now};
    }
    return {DateTimeHistoryFrom->dateTime().toMSecsSinceEpoch(),
            DateTimeHistoryTo->dateTime().toMSecsSinceEpoch()};
}

void HistoryRangeDialog::SetRange(qint64 fromMs, qint64 toMs)
{
    ComboBoxHistoryPeriod->setCurrentIndex(3);
    PeriodChosen();
    DateTimeHistoryFrom->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
    DateTimeHistoryTo->setDateTime(QDateTime::fromMSecsSinceEpoch(toMs));
}
