#pragma once
#include "Decimate.h"
#include "TrendReader.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

#include "HistoryRangeDialog.h"
class HistoryStore;
class MemIniFile;
#include <QFileDialog>
class QCPGraph;
class QLabel;
class QListWidget;
class QPushButton;
class TimeChart;
class TrendPlot;

// A window that plots a trend file: every channel against time, named with the tags of
// the file's second line; channels shown or hidden in the legend. Long files are drawn per
// pixel column (lowest and highest value of each), so a week of rows pans smoothly. A gap
// in the data is a NaN point, where the plot breaks the line. Esc closes it.
class TrendViewer : public QWidget {
    Q_OBJECT
public:
    // Texts come from the language sections of settings.
    explicit TrendViewer(const MemIniFile &settings, QWidget *parent = nullptr);
    ~TrendViewer() override;

    // Asks for a file (the dialog is opened with open(); the file loads when it is chosen).
    void ChooseFile();
    // Loads a file at once; false (and a message) when it is not a trend file.
    bool Load(const QString &path);
    // The store whose readings it also shows (of controller(); 0: the newest one kept).
    void SetHistory(HistoryStore *store, std::function<int()> controller);
    // Asks for a range of the store (the dialog is opened with open()).
    void ChooseHistoryRange();
    // Shows the store's readings over from..to at once; false (and a message) when there
    // are none.
    bool LoadHistory(qint64 fromMs, qint64 toMs);
    // The range into a trend file or a CSV file, the name asked for with open().
    void ExportHistoryTrend(qint64 fromMs, qint64 toMs);
    void ExportHistoryCsv(qint64 fromMs, qint64 toMs);
    HistoryRangeDialog *historyDialog() const { return m_historyDialog; }
    QFileDialog *exportDialog() const { return m_exportDialog; }
    void ApplyCaptions();
    // The whole file across the chart.
    void ShowAll();

    const TrendColumns &data() const { return m_data; }
    // One graph per channel, in the file's order; a hidden channel's graph is invisible.
    const std::vector<QCPGraph *> &graphs() const;
    TrendPlot *view() const;
    QListWidget *channelList() const;
    TimeChart *chart() const { return m_chart; }
    QFileDialog *fileDialog() const { return m_dialog; }
    // Decimates for the current range now (the plot repaints at the next turn of the loop).
    void RedrawNow();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString Text(const char *key, const char *def) const;
    QString ChannelName(int c) const;
    // The file's channels to the chart; a new file shows every one.
    void SetChannels(bool newFile);
    void ShowFileInfo();

    const MemIniFile &m_settings;
    TimeChart *m_chart;
    int HistoryController() const;
    void ShowLoaded();

    QPushButton *m_open, *m_all, *m_history;
    HistoryStore *m_store = nullptr;
    std::function<int()> m_controller;
    QPointer<HistoryRangeDialog> m_historyDialog;
    QPointer<QFileDialog> m_exportDialog;
    qint64 m_historyFrom = 0, m_historyTo = 0; // the store's range shown; 0, 0: a file
    QLabel *m_info;
    QPointer<QFileDialog> m_dialog;
    QString m_path;
    TrendColumns m_data;
    std::vector<MinMaxBlocks> m_blocks; // per channel
    qint64 m_maxStepMs = 3000;
};
