#pragma once
#include "HistoryTypes.h"

#include <QObject>
#include <QPointer>

class HistoryService;
class HistoryStore;
class MainState;
class QLabel;
class QMenu;
class QSystemTrayIcon;
class QToolButton;

// Where waiting alarms show in the window: a red count on the events button, a line in
// the status bar (the newest waiting alarm) and, where the desktop has a tray, an icon
// whose colour follows the link lamp and the alarms, with a notification for each new
// alarm. Everything follows the store's count, so alarms acknowledged anywhere (another
// window, the command-line tool) clear here too.
class AlarmDisplay : public QObject {
    Q_OBJECT
public:
    AlarmDisplay(MainState &state, QToolButton &button, QLabel &line, QObject *parent = nullptr);
    ~AlarmDisplay() override;

    // The store whose alarms are shown and the service whose new alarms are told; either
    // may be null (no history kept).
    void Attach(HistoryStore *store, HistoryService *service);
    void SetLinkUp(bool up);
    void ApplyCaptions();
    // Reads the count and the newest waiting alarm again.
    void Refresh();

    int count() const { return m_count; }
    QString lineText() const;
    QSystemTrayIcon *tray() const { return m_tray; }
    // The colour the tray icon (and the button's count) is drawn in now.
    QColor trayColor() const;

signals:
    void eventsWanted();
    void windowWanted();
    void quitWanted();
    // A notification was shown (or would have been, without a tray).
    void notified(const QString &title, const QString &text);

private:
    void Show();
    void AlarmRaised(const HistoryEvent &event, const QString &text);

    MainState &m_state;
    QToolButton &m_button;
    QLabel &m_line;
    QPointer<HistoryStore> m_store;
    QPointer<HistoryService> m_service;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_trayMenu = nullptr;
    int m_count = 0;
    QString m_latest;
    bool m_linkUp = false;
};
