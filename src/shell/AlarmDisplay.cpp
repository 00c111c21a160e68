#include "AlarmDisplay.h"

#include "HistoryService.h"
#include "HistoryStore.h"
#include "HistoryViewTexts.h"
#include "MainState.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QToolButton>

namespace {

const QColor kAlarmRed(220, 0, 0);
const QColor kLinkLime(0, 200, 0);
const QColor kLinkGrey(160, 170, 180);

// A sheet with lines (the journal), with the count in a red disc at its corner.
QIcon EventsIcon(int count)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5.5, 3.5, 19, 25));
    p.setPen(QPen(QColor(70, 110, 170), 2));
    for (int y = 9; y <= 24; y += 5)
        p.drawLine(QPointF(9, y), QPointF(21, y));
    if (count > 0) {
        const QRectF disc(14, 0, 18, 18);
        p.setPen(Qt::NoPen);
        p.setBrush(kAlarmRed);
        p.drawEllipse(disc);
        QFont f = p.font();
        f.setPixelSize(count > 9 ? 10 : 13);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(disc, Qt::AlignCenter, count > 99 ? QStringLiteral("99+") : QString::number(count));
    }
    return QIcon(pm);
}

QIcon TrayIcon(const QColor &c)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(c.darker(160), 2));
    p.setBrush(c);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    return QIcon(pm);
}

} // namespace

AlarmDisplay::AlarmDisplay(MainState &state, QToolButton &button, QLabel &line, QObject *parent)
    : QObject(parent), m_state(state), m_button(button), m_line(line)
{
    m_line.setObjectName(QStringLiteral("StatusBarAlarm"));
    QPalette red = m_line.palette();
    red.setColor(QPalette::WindowText, kAlarmRed);
    m_line.setPalette(red);
    QFont bold = m_line.font();
    bold.setBold(true);
    m_line.setFont(bold);
    // A long alarm text must not widen the window past a small screen: it is cut, and its
    // tool tip holds all of it.
    m_line.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_line.hide();
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setObjectName(QStringLiteral("TrayIcon"));
        m_trayMenu = new QMenu;
        m_trayMenu->setObjectName(QStringLiteral("TrayMenu"));
        m_trayMenu->addAction(QString(), this, &AlarmDisplay::windowWanted);
        m_trayMenu->addAction(QString(), this, &AlarmDisplay::eventsWanted);
        m_trayMenu->addSeparator();
        m_trayMenu->addAction(QString(), this, &AlarmDisplay::quitWanted);
        m_tray->setContextMenu(m_trayMenu);
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
                emit(m_count > 0 ? eventsWanted() : windowWanted());
        });
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, &AlarmDisplay::eventsWanted);
        m_tray->show();
    }
    ApplyCaptions();
}

AlarmDisplay::~AlarmDisplay()
{
    delete m_trayMenu;
}

void AlarmDisplay::Attach(HistoryStore *store, HistoryService *service)
{
    if (m_store)
        disconnect(m_store, nullptr, this, nullptr);
    if (m_service)
        disconnect(m_service, nullptr, this, nullptr);
    m_store = store;
    m_service = service;
    if (store)
        connect(store, &HistoryStore::alarmsChanged, this, &AlarmDisplay::Refresh);
    if (service)
        connect(service, &HistoryService::alarmRaised, this, &AlarmDisplay::AlarmRaised);
    Refresh();
}

void AlarmDisplay::Refresh()
{
    m_count = 0;
    m_latest.clear();
    // The store counts what waits in every engine's history, acknowledgements from
    // elsewhere included.
    if (m_store) {
        m_count = m_store->UnacknowledgedAlarms();
        if (m_count > 0) {
            EventFilter f;
            f.alarmsOnly = true;
            f.unacknowledgedOnly = true;
            f.limit = 1;
            const std::vector<HistoryEvent> newest = m_store->Events(f);
            if (!newest.empty())
                m_latest = HistoryEventText(newest.front(), m_state.settingsIni);
        }
    } else if (m_service) {
        m_count = m_service->unacknowledgedAlarms();
        m_latest = m_service->latestAlarmText();
    }
    Show();
}

QString AlarmDisplay::lineText() const
{
    return m_count > 0 ? m_state.Text(Msg::n608) + m_latest : QString();
}

QColor AlarmDisplay::trayColor() const
{
    return m_count > 0 ? kAlarmRed : m_linkUp ? kLinkLime : kLinkGrey;
}

void AlarmDisplay::SetLinkUp(bool up)
{
    if (up == m_linkUp)
        return;
    m_linkUp = up;
    Show();
}

void AlarmDisplay::ApplyCaptions()
{
    if (m_trayMenu) {
        m_trayMenu->actions().at(0)->setText(m_state.Text(Msg::n617));
        m_trayMenu->actions().at(1)->setText(m_state.Text(Msg::n580));
        m_trayMenu->actions().at(3)->setText(m_state.Text(Msg::n619));
    }
    // The newest alarm in the language now in use.
    if (m_store || m_service)
        Refresh();
    else
        Show();
}

void AlarmDisplay::Show()
{
    m_button.setIcon(EventsIcon(m_count));
    m_button.setProperty("alarmCount", m_count);
    QString hint = m_state.Text(Msg::n580);
    if (m_count > 0)
        hint += QStringLiteral("\n") + m_state.Text(Msg::n607) + QString::number(m_count);
    if (!m_button.shortcut().isEmpty()) // as the window's other buttons name their keys
        hint += QStringLiteral(" (") + m_button.shortcut().toString(QKeySequence::NativeText) + u')';
    m_button.setToolTip(hint);
    m_line.setText(lineText());
    m_line.setToolTip(lineText());
    m_line.setVisible(m_count > 0);
    if (m_tray) {
        m_tray->setIcon(TrayIcon(trayColor()));
        QString tip = QStringLiteral("Velmaris");
        if (m_count > 0)
            tip += u'\n' + m_state.Text(Msg::n607) + QString::number(m_count) + u'\n' + m_latest;
        m_tray->setToolTip(tip);
    }
}

void AlarmDisplay::AlarmRaised(const HistoryEvent &, const QString &text)
{
    const QString title = m_state.Text(Msg::n608).trimmed().remove(u':');
    if (m_tray && QSystemTrayIcon::supportsMessages())
        m_tray->showMessage(title, text, QSystemTrayIcon::Warning, 15000);
    emit notified(title, text);
}
