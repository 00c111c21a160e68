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
    QPushButton *m_open, *m_all;
    QLabel *m_info;
    QPointer<QFileDialog> m_dialog;
    QString m_path;
    TrendColumns m_data;
    std::vector<MinMaxBlocks> m_blocks; // per channel
    qint64 m_maxStepMs = 3000;
};
