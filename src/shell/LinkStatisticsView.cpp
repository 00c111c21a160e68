#include "LinkStatisticsView.h"

#include "FrameLog.h"
#include "LinkTexts.h"
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

enum GridColumn { CaptionColumn, TotalColumn, ShareColumn, RecentColumn, RecentShareColumn };

quint64 of(const AttemptCounts &c, AttemptOutcome o) {
    return c.of(o);
}

QString percentOf(quint64 n, quint64 of) {
    return of ? QString::number(100.0 * double(n) / double(of), 'f', 1) + u'%' : QString();
}

QColor verdictColour(LineVerdict v) {
    switch (v) {
    case LineVerdict::Good:
        return QColor(0, 128, 0);
    case LineVerdict::Marginal:
        return QColor(200, 110, 0);
    case LineVerdict::Bad:
        return QColor(190, 0, 0);
    case LineVerdict::NoData:
        break;
    }
    return QColor();
}
} // namespace

LinkStatisticsView::LinkStatisticsView(MainState &state, QWidget *parent)
    : QWidget(parent, Qt::Window), m_state(state) {
    setObjectName(QStringLiteral("LinkStatisticsView"));
    using O = AttemptOutcome;
    auto kind = [](O o) { return [o](const AttemptCounts &c) { return of(c, o); }; };
    const Shown share = Shown::CountShare;
    m_rows = {
        {"LinkStatisticsSince", "n316", u"Считается с"},
        {"LinkStatisticsRequests", "n302", u"Запросы", Shown::Count,
         [](const AttemptCounts &c) { return c.attempts() - c.of(O::SendFailed); }},
        {"LinkStatisticsAnswers", "n303", u"Верные ответы", share, kind(O::Good)},
        {"LinkStatisticsTimeouts", "n304", u"Нет ответа (тайм-аут)", share, kind(O::Timeout)},
        {"LinkStatisticsCrcErrors", "n305", u"Ошибки CRC", share, kind(O::BadCrc)},
        {"LinkStatisticsWrongAddresses", "n306", u"Ответы с чужим адресом", share,
         kind(O::WrongAddress)},
        {"LinkStatisticsExceptions", "n307", u"Ответы-исключения (по кодам)", share,
         kind(O::Exception)},
        {"LinkStatisticsByteCount", "n308", u"Неверное число байтов", share, kind(O::ByteCount)},
        {"LinkStatisticsTruncated", "n309", u"Неполные ответы", share, kind(O::Truncated)},
        {"LinkStatisticsNoise", "n310", u"Помехи (не кадр)", share, kind(O::Noise)},
        {"LinkStatisticsSendFailures", "n334", u"Ошибки передачи запроса", share,
         kind(O::SendFailed)},
        {"LinkStatisticsRetries", "n311", u"Повторы", share,
         [](const AttemptCounts &c) { return c.retries; }},
        {"LinkStatisticsLinkLosses", "n312", u"Потери связи", Shown::Count,
         [](const AttemptCounts &c) { return c.linkLosses; }},
        {"LinkStatisticsLineQuality", LinkText::n484.key, LinkText::n484.russian, Shown::Verdict},
        {"LinkStatisticsCycles", "n339", u"Циклы опроса"},
        {"LinkStatisticsCycleTime", "n313", u"Время цикла, мс: последнее / среднее / худшее"},
        {"LinkStatisticsWireShare", "n314", u"Доля времени линии: последний цикл / в среднем"},
    };
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    auto valueLabel = [this](const QString &name) {
        auto *l = named(new QLabel(this), name);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };
    m_totalHeader = new QLabel(this);
    m_recentHeader = new QLabel(this);
    for (QLabel *h : {m_totalHeader, m_recentHeader}) {
        h->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont bold = h->font();
        bold.setBold(true);
        h->setFont(bold);
    }
    grid->addWidget(m_totalHeader, 0, TotalColumn, 1, 2);
    grid->addWidget(m_recentHeader, 0, RecentColumn, 1, 2);
    int r = 1;
    for (Row &row : m_rows) {
        const QString name = QString::fromLatin1(row.name);
        row.caption = new QLabel(this);
        row.value = valueLabel(name);
        grid->addWidget(row.caption, r, CaptionColumn);
        if (row.shown == Shown::Once) {
            grid->addWidget(row.value, r, TotalColumn, 1, 4);
        } else {
            grid->addWidget(row.value, r, TotalColumn);
            row.recent = valueLabel(name + QStringLiteral("LastMinute"));
            grid->addWidget(row.recent, r, RecentColumn);
            if (row.shown != Shown::Count) {
                row.share = valueLabel(name + QStringLiteral("Percent"));
                row.recentShare = valueLabel(name + QStringLiteral("LastMinutePercent"));
                if (row.shown == Shown::Verdict) { // the one a person looks for
                    QFont bold = row.recent->font();
                    bold.setBold(true);
                    row.recent->setFont(bold);
                }
                grid->addWidget(row.share, r, ShareColumn);
                grid->addWidget(row.recentShare, r, RecentShareColumn);
            }
        }
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

QString LinkStatisticsView::text(const TextKey &key) const {
    return m_state.Text(key);
}

QString LinkStatisticsView::verdictText(LineVerdict verdict) const {
    switch (verdict) {
    case LineVerdict::Good:
        return text(LinkText::n485);
    case LineVerdict::Marginal:
        return text(LinkText::n486);
    case LineVerdict::Bad:
        return text(LinkText::n487);
    case LineVerdict::NoData:
        break;
    }
    return text(LinkText::n489);
}

void LinkStatisticsView::ApplyCaptions() {
    setWindowTitle(text("n300", u"Статистика связи"));
    m_totalHeader->setText(text(LinkText::n482));
    m_recentHeader->setText(text(LinkText::n483));
    const QString thresholds =
        text(LinkText::n488).arg(kGoodLineBelowPercent).arg(kBadLineFromPercent);
    for (Row &row : m_rows) {
        row.caption->setText(text(row.key, row.russian));
        if (row.shown == Shown::Verdict)
            for (QLabel *l : {row.caption, row.value, row.share, row.recent, row.recentShare})
                l->setToolTip(thresholds);
    }
    ButtonResetLinkStatistics->setText(text("n315", u"Сбросить"));
    Refresh();
}

void LinkStatisticsView::Refresh() {
    const LinkStatistics &s = m_state.modbus.statistics();
    const AttemptCounts total = s.totals(), recent = s.lastMinute();
    auto n = [](quint64 v) { return QString::number(v); };
    QString exceptions = n(s.exceptionTotal());
    QStringList withNames;
    if (!s.exceptions.empty()) {
        QStringList byCode;
        for (const auto &[code, count] : s.exceptions) {
            byCode << QStringLiteral("%1: %2").arg(code).arg(count);
            const QString name = ExceptionName(m_state.settingsIni, code);
            withNames << QStringLiteral("%1 — %2: %3")
                             .arg(code)
                             .arg(name.isEmpty() ? QStringLiteral("?") : name)
                             .arg(count);
        }
        exceptions += QStringLiteral(" (") + byCode.join(QStringLiteral(", ")) + u')';
    }
    auto percent = [](double share) { return QString::number(100 * share, 'f', 1) + u'%'; };
    const QString once[] = {
        QDateTime::fromMSecsSinceEpoch(s.sinceMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
        n(s.cycles),
        s.cycles ? QStringLiteral("%1 / %2 / %3")
                       .arg(s.lastCycleMs)
                       .arg(s.meanCycleMs(), 0, 'f', 1)
                       .arg(s.worstCycleMs)
                 : QStringLiteral("—"),
        s.cycles ? percent(s.lastWireShare) + QStringLiteral(" / ") + percent(s.meanWireShare())
                 : QStringLiteral("—"),
    };
    size_t nextOnce = 0;
    for (Row &row : m_rows) {
        switch (row.shown) {
        case Shown::Once:
            row.value->setText(once[nextOnce++]);
            break;
        case Shown::Count:
        case Shown::CountShare:
            row.value->setText(n(row.counter(total)));
            row.recent->setText(n(row.counter(recent)));
            if (row.share) {
                row.share->setText(percentOf(row.counter(total), total.attempts()));
                row.recentShare->setText(percentOf(row.counter(recent), recent.attempts()));
            }
            break;
        case Shown::Verdict:
            for (const auto &[value, share, counts] :
                 {std::tuple{row.value, row.share, total},
                  std::tuple{row.recent, row.recentShare, recent}}) {
                const LineVerdict v = VerdictOfLine(counts.lineFaults(), counts.attempts());
                value->setText(verdictText(v));
                QPalette p = value->palette();
                p.setColor(QPalette::WindowText, v == LineVerdict::NoData
                                                     ? palette().color(QPalette::WindowText)
                                                     : verdictColour(v));
                value->setPalette(p);
                share->setText(percentOf(counts.lineFaults(), counts.attempts()));
            }
            break;
        }
        if (row.value->objectName() == QLatin1String("LinkStatisticsExceptions")) {
            row.value->setText(exceptions);
            row.value->setToolTip(withNames.join(u'\n'));
        }
    }
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
