#pragma once
#include "Decimate.h"

#include <QListWidget>
#include <QPointer>
#include <QSet>
#include <QWidget>
#include <vector>

class MemIniFile;
class QCheckBox;
class QCPGraph;
class QDoubleSpinBox;
class QFileDialog;
class QHBoxLayout;
class QPushButton;
class QSplitter;
class TrendPlot;

// The channels beside a chart: colour, name and the value under the cursor. Holds all 36
// (it scrolls); a click anywhere on an entry hides or shows its channel.
class ChartLegend : public QListWidget {
    Q_OBJECT
public:
    static constexpr int kKeyRole = Qt::UserRole;       // the channel's key
    static constexpr int kValueRole = Qt::UserRole + 1; // the value under the cursor
    explicit ChartLegend(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// One line of a chart: its key (the sensor, the file's column), its name and its values,
// one per sample time.
struct ChartChannel {
    int key;
    QString label;
    const float *values;
};

// What the live chart and the trend viewer show alike: the plot with its cursor, the
// legend, the temperature axis (automatic or the user's), the pause mark and the export
// of the shown range to PNG and CSV. The owner hands over its samples (they stay its own
// and must live until the next SetData) and the plot decimates them for the shown range
// just before it draws, however many range changes came in between.
class TimeChart : public QWidget {
    Q_OBJECT
public:
    // prefix names the parts: "List<prefix>Channels", "Button<prefix>Png", ...
    TimeChart(const MemIniFile &settings, const QString &prefix, const QString &plotName,
              QWidget *parent = nullptr);

    // The owner's buttons go at the front of this row.
    QHBoxLayout *toolRow() const { return m_toolRow; }
    TrendPlot *plot() const { return m_plot; }
    ChartLegend *legend() const { return m_legend; }

    void SetData(const qint64 *times, size_t n, std::vector<ChartChannel> channels,
                 qint64 maxStepMs, const std::vector<MinMaxBlocks> *blocks = nullptr);
    // Graphs in the order of the channels handed over.
    const std::vector<QCPGraph *> &graphs() const { return m_graphs; }
    QCPGraph *graph(int key) const;
    bool shown(int key) const { return !m_hidden.contains(key); }
    void SetShown(int key, bool shown);
    void SetAllShown(bool shown);
    void SetHighlighted(int key);
    int highlighted() const { return m_highlighted; }
    void SetPaused(bool paused);

    // Decimates for the shown range now; the plot draws at the next turn of the loop.
    void RedrawNow();
    void ScheduleRedraw();
    void ApplyCaptions();
    // The cursor at a time (-1: none): the legend shows each shown channel's value there.
    void SetCursorTime(qint64 t);

    // The shown range: the visible channels' samples as CSV, the plot and legend as PNG.
    QByteArray VisibleCsv() const;
    bool SaveCsv(const QString &path, QString *error) const;
    bool SavePng(const QString &path, QString *error) const;
    // Asks for a file (opened with open()) and saves there.
    void ExportCsv();
    void ExportPng();
    QFileDialog *exportDialog() const { return m_dialog; }

private:
    void Decimate();
    void Rebuild(const std::vector<ChartChannel> &channels);
    void ShowCursorValues();
    void ReadYControls();
    void ShowYRange();
    void Export(bool csv);
    void SaveChosen(const QString &path, bool csv);
    QString Text(const char *key, const char *def) const;

    const MemIniFile &m_settings;
    TrendPlot *m_plot;
    ChartLegend *m_legend;
    QSplitter *m_split;
    QHBoxLayout *m_toolRow;
    QCheckBox *m_autoY;
    QDoubleSpinBox *m_yMin, *m_yMax;
    QPushButton *m_png, *m_csv, *m_checkAll, *m_checkNone;
    QPointer<QFileDialog> m_dialog;

    const qint64 *m_times = nullptr;
    size_t m_count = 0;
    std::vector<ChartChannel> m_channels;
    const std::vector<MinMaxBlocks> *m_blocks = nullptr;
    qint64 m_maxStepMs = 3000;
    std::vector<QCPGraph *> m_graphs;
    std::vector<PlotPoint> m_decimated; // kept: no allocation a frame
    QSet<int> m_hidden;
    int m_highlighted = -1;
    bool m_paused = false;
    bool m_stale = false;
};
