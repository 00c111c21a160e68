#pragma once
#include <QTimer>
#include <QWidget>

class MainState;
class QLabel;
class QPushButton;

// LinkStatisticsView: the link's counters since the connection or the last reset, a small
// window of its own. It reads the counters a few times a second while it is shown.
class LinkStatisticsView : public QWidget {
    Q_OBJECT
public:
    explicit LinkStatisticsView(MainState &state, QWidget *parent = nullptr);

    void ApplyCaptions();
    // Reads the counters now.
    void Refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    struct Row {
        const char *name; // object name of the value label
        const char *key;
        const char16_t *russian;
        QLabel *caption = nullptr;
        QLabel *value = nullptr;
    };
    QString text(const char *key, const char16_t *russian) const;

    MainState &m_state;
    QTimer m_refresh;
    std::vector<Row> m_rows;
    QPushButton *ButtonResetLinkStatistics;
};
