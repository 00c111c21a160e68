#include "LinkStatisticsView.h"

#include "LookupText.h"
#include "MainState.h"
#include "Widgets.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kRefreshMs = 400; // a few times a second is all a person reads
}

LinkStatisticsView::LinkStatisticsView(MainState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), m_state(state) {
    setObjectName(QStringLiteral("LinkStatisticsView"));
    m_rows = {
        {"LinkStatisticsSince", "n316", u"Считается с"},
        {"LinkStatisticsRequests", "n302", u"Запросы"},
        {"LinkStatisticsAnswers", "n303", u"Верные ответы"},
        {"LinkStatisticsTimeouts", "n304", u"Нет ответа (тайм-аут)"},
        {"LinkStatisticsCrcErrors", "n305", u"Ошибки CRC"},
        {"LinkStatisticsWrongAddresses", "n306", u"Ответы с чужим адресом"},
        {"LinkStatisticsExceptions", "n307", u"Ответы-исключения (по кодам)"},
        {"LinkStatisticsByteCount", "n308", u"Неверное число байтов"},
        {"LinkStatisticsTruncated", "n309", u"Неполные ответы"},
        {"LinkStatisticsNoise", "n310", u"Помехи (не кадр)"},
        {"LinkStatisticsSendFailures", "n334", u"Ошибки передачи запроса"},
        {"LinkStatisticsRetries", "n311", u"Повторы"},
        {"LinkStatisticsLinkLosses", "n312", u"Потери связи"},
        {"LinkStatisticsCycles", "n339", u"Циклы опроса"},
        {"LinkStatisticsCycleTime", "n313", u"Время цикла, мс: последнее / среднее / худшее"},
        {"LinkStatisticsWireShare", "n314", u"Доля времени линии: последний цикл / в среднем"},
    };
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(24);
    int r = 0;
    for (Row &row : m_rows) {
        row.caption = new QLabel(this);
        row.value = named(new QLabel(this), QString::fromLatin1(row.name));
        row.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row.value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(row.caption, r, 0);
        grid->addWidget(row.value, r, 1);
        ++r;
    }
    ButtonResetLinkStatistics =
        named(new QPushButton(this), QStringLiteral("ButtonResetLinkStatistics"));
    connect(ButtonResetLinkStatistics, &QPushButton::clicked, this, [this] {
        m_state.modbus.statistics().Reset();
        Refresh();
    });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ButtonResetLinkStatistics);
    auto *top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addStretch();
    top->addLayout(buttons);

    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &LinkStatisticsView::Refresh);
    ApplyCaptions();
    setMinimumWidth(480);
}

QString LinkStatisticsView::text(const char *key, const char16_t *russian) const {
    return m_state.Text(key, QString::fromUtf16(russian));
}

void LinkStatisticsView::ApplyCaptions() {
    setWindowTitle(text("n300", u"Статистика связи"));
    for (Row &row : m_rows)
        row.caption->setText(text(row.key, row.russian));
    ButtonResetLinkStatistics->setText(text("n315", u"Сбросить"));
    Refresh();
}

void LinkStatisticsView::Refresh() {
    const LinkStatistics &s = m_state.modbus.statistics();
    auto n = [](quint64 v) { return QString::number(v); };
    QString exceptions = n(s.exceptionTotal());
    if (!s.exceptions.empty()) {
        QStringList byCode;
        for (const auto &[code, count] : s.exceptions)
            byCode << QStringLiteral("%1: %2").arg(code).arg(count);
        exceptions += QStringLiteral(" (") + byCode.join(QStringLiteral(", ")) + u')';
    }
    auto percent = [](double share) { return QString::number(100 * share, 'f', 1) + u'%'; };
    const QString values[] = {
        QDateTime::fromMSecsSinceEpoch(s.sinceMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        n(s.requests),
        n(s.goodAnswers),
        n(s.timeouts),
        n(s.crcErrors),
        n(s.wrongAddresses),
        exceptions,
        n(s.byteCountErrors),
        n(s.truncated),
        n(s.noise),
        n(s.sendFailures),
        n(s.retries),
        n(s.linkLosses),
        n(s.cycles),
        s.cycles ? QStringLiteral("%1 / %2 / %3")
                       .arg(s.lastCycleMs)
                       .arg(s.meanCycleMs(), 0, 'f', 1)
                       .arg(s.worstCycleMs)
                 : QStringLiteral("—"),
        s.cycles ? percent(s.lastWireShare) + QStringLiteral(" / ") + percent(s.meanWireShare())
                 : QStringLiteral("—"),
    };
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].value->setText(values[i]);
}

void LinkStatisticsView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    Refresh();
    m_refresh.start();
}

void LinkStatisticsView::hideEvent(QHideEvent *event) {
    m_refresh.stop();
    QWidget::hideEvent(event);
}
