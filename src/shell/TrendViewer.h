#pragma once
#include "Decimate.h"
#include "TrendReader.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class MemIniFile;
#include <QFileDialog>
class QCPGraph;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class TrendPlot;

// A window that plots a trend file: every channel against time, named with the tags of
// the file's second line; channels chosen in a list. Long files are drawn per pixel column
// (lowest and highest value of each), so a week of rows pans smoothly. A gap in the data
// is a NaN point, where the plot breaks the line.
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
    void ApplyCaptions();
    // The whole file across the chart.
    void ShowAll();

    const TrendColumns &data() const { return m_data; }
    // One graph per channel, in the file's order; a hidden channel's graph is invisible.
    const std::vector<QCPGraph *> &graphs() const { return m_graphs; }
    TrendPlot *view() const { return m_view; }
    QListWidget *channelList() const { return m_list; }
    QFileDialog *fileDialog() const { return m_dialog; }
    // Decimates for the current range now (the plot repaints at the next turn of the loop).
    void RedrawNow();

private:
    void ScheduleRedraw();
    void Decimate();
    void ChannelToggled(QListWidgetItem *item);
    QString Text(const char *key, const char *def) const;
    QString ChannelName(int c) const;
    void ShowFileInfo();

    const MemIniFile &m_settings;
    TrendPlot *m_view;
    QListWidget *m_list;
    QPushButton *m_open, *m_all, *m_checkAll, *m_checkNone;
    QLabel *m_info;
    QPointer<QFileDialog> m_dialog;
    QString m_path;
    TrendColumns m_data;
    std::vector<QCPGraph *> m_graphs;
    std::vector<MinMaxBlocks> m_blocks; // per channel
    qint64 m_maxStepMs = 0;
    bool m_stale = false; // the range moved since the last decimation
};
