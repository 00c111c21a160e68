#pragma once
#include <QDialog>

class MainState;
class MemIniFile;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;

// A time range of the history: the last day, week or month, or two dates. Its buttons
// show the range in the trend viewer or export it to a trend file or a CSV file; the dialog
// is opened with open() and says what was chosen by its signals.
class HistoryRangeDialog : public QDialog {
    Q_OBJECT
public:
    explicit HistoryRangeDialog(const MemIniFile &settings, QWidget *parent = nullptr);

    void ApplyCaptions();
    // The range chosen (ms since the epoch), now.
    std::pair<qint64, qint64> Range() const;
    void SetRange(qint64 fromMs, qint64 toMs); // the dates given (custom)

signals:
    void showWanted(qint64 fromMs, qint64 toMs);
    void trendWanted(qint64 fromMs, qint64 toMs);
    void csvWanted(qint64 fromMs, qint64 toMs);

private:
    void PeriodChosen();

    const MemIniFile &m_settings;
    QComboBox *ComboBoxHistoryPeriod;
    QLabel *LabelHistoryPeriod, *LabelHistoryFrom, *LabelHistoryTo;
    QDateTimeEdit *DateTimeHistoryFrom, *DateTimeHistoryTo;
    QPushButton *ButtonHistoryShow, *ButtonHistoryTrend, *ButtonHistoryCsv, *ButtonHistoryClose;
};
