#pragma once
#include "TrendReader.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>

class ChannelLine;
class MemIniFile;
#include <QFileDialog>
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class TimeChartView;

// A window that plots a trend file: every channel against time, named with the tags of
// the file's second line; channels chosen in a list. Long files are drawn per pixel column
// (lowest and highest value of each), so a week of rows pans smoothly.
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
    const std::vector<ChannelLine *> &lines() const { return m_lines; }
    TimeChartView *view() const { return m_view; }
    QListWidget *channelList() const { return m_list; }
    QFileDialog *fileDialog() const { return m_dialog; }
    // Draws the current range now instead of at the next turn of the event loop.
    void RedrawNow();

private:
    void ScheduleRedraw();
    void ChannelToggled(QListWidgetItem *item);
    QString Text(const char *key, const char *def) const;
    QString ChannelName(int c) const;
    void ShowFileInfo();

    const MemIniFile &m_settings;
    TimeChartView *m_view;
    QListWidget *m_list;
    QPushButton *m_open, *m_all, *m_checkAll, *m_checkNone;
    QLabel *m_info;
    QPointer<QFileDialog> m_dialog;
    QString m_path;
    TrendColumns m_data;
    std::vector<ChannelLine *> m_lines;
    qint64 m_maxStepMs = 0;
    QTimer m_redrawTimer;
};
