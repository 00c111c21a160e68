#pragma once
#include "LinkStatistics.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class MainState;
class QLabel;
class QPushButton;
struct TextKey;

// LinkStatisticsView: the link's counters since the connection or the last reset, each
// failure kind also as a share of the attempts and over the last 60 s, and a verdict on
// the line. A small window of its own; it reads the counters a few times a second while
// it is shown.
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
    // How a row shows its counter beside the totals.
    enum class Shown {
        Once,       // one value across the columns
        Count,      // a count, and the same over the last 60 s
        CountShare, // as Count, each with its share of the attempts
        Verdict,    // the line's verdict and its share of line faults
    };
    struct Row {
        const char *name; // object name of the value label
        const char *key;
        const char16_t *russian;
        Shown shown = Shown::Once;
        // The counter of a Count or CountShare row.
        std::function<quint64(const AttemptCounts &)> counter = nullptr;
        QLabel *caption = nullptr;
        QLabel *value = nullptr;       // the total, or the one value
        QLabel *share = nullptr;       // <name>Percent
        QLabel *recent = nullptr;      // <name>LastMinute
        QLabel *recentShare = nullptr; // <name>LastMinutePercent
    };
    QString text(const char *key, const char16_t *russian) const;
    QString text(const TextKey &key) const;
    QString verdictText(LineVerdict verdict) const;

    MainState &m_state;
    QTimer m_refresh;
    std::vector<Row> m_rows;
    QLabel *m_totalHeader, *m_recentHeader;
    QPushButton *ButtonResetLinkStatistics;
};
