#pragma once
#include "GridView.h"
#include "QorPage.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QPalette>
#include <memory>

class PollCycle;
class QGridLayout;
class TextGrid;
class QGroupBox;
class QScrollArea;
class QSplitter;
class QLabel;
class QLineEdit;
class QPushButton;
class StateTrendHost;
class TrendRecorder;

// TabSheetSensorData: the live values of the registered sensors in two grids side by side,
// and GroupBox2, which records them into a trend file.
class SensorDataPage : public QorPage {
    Q_OBJECT
public:
    // The recorder takes its rows from the cycle's records, after the cycle read them.
    SensorDataPage(MainState &state, PollCycle &cycle, QWidget *parent = nullptr);
    ~SensorDataPage() override;

    QString Caption() const override;
    void ApplyCaptions() override;
    void Shown() override;
    // Rows or columns changed: the grids are laid out anew at the next turn of the event
    // loop, once however many changes come before it.
    void LayoutChanged();
    // Layout passes run so far (each costs at most one walk over the cells).
    int layoutPasses() const { return m_layoutPasses; }
    // Start-up: EditTrendTime shows [trends] time (7 when there is none); its change
    // handler stores it.
    void ShowTrendPeriod();
    TrendRecorder &recorder() { return *m_recorder; }
    // A panel under the grids (the live chart), sharing the height with them in a splitter.
    void AddPanel(QWidget *panel);
    // The splitter's positions as the user left them (empty: never set), and back.
    QByteArray SplitState() const;
    void RestoreSplit(const QByteArray &state);
    // The second grid stands under the first (the page is too narrow for both side by side).
    bool gridsStacked() const { return m_stacked; }
    // The link is up: the values shown are fresh. Otherwise every live cell is greyed.
    void SetLive(bool live);
    bool live() const { return m_live; }

signals:
    // A row of a data grid was clicked: its sensor, zero-based.
    void SensorClicked(int sensor);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SensorsDataMouseMove(GridView *grid, int x);
    void CellsChanged(GridView *grid, const QModelIndex &from, const QModelIndex &to);
    // True when text is a number that surely fits a column this wide in grid's font.
    bool NumberFits(const GridView *grid, const QString &text, int width);
    void SchedulePass();
    void RunPass();
    // Every column measured over every cell of both grids.
    void LayOutAll();
    // Only the columns a changed cell asked to widen.
    void WidenColumns();
    void SetColumnWidths(const QList<int> &columns);
    void FitGridWidths();
    QGroupBox *BuildTrendGroup();
    void Reflow();
    void DefaultSplit();
    void EditTrendTimeChange(const QString &text);
    // Tint, greying and tool tip of a cell of either data grid.
    GridView::CellLook LookOf(const TextGrid &grid, int col, int row, bool withToolTip) const;
    QString ToolTipOf(const TextGrid &grid, int col, int row, int sensor) const;
    // The sensor (zero-based) a row shows, from its label; -1 for none.
    static int SensorOfRow(const TextGrid &grid, int row);

    QGroupBox *GroupBox22 = nullptr, *GroupBox2 = nullptr;
    QGridLayout *m_gridPlaces = nullptr;
    QScrollArea *m_gridsScroll = nullptr;
    QSplitter *SplitterSensorData = nullptr;
    QWidget *m_panel = nullptr;
    bool m_splitSet = false; // restored, or moved by the user
    bool m_defaultSplitApplied = false;
    bool m_stacked = false;
    QPushButton *ButtonStartFile = nullptr, *ButtonStopFile = nullptr;
    QLabel *LabelTrendEvery = nullptr, *LabelTrendSeconds = nullptr;
    QLineEdit *EditTrendTime = nullptr;
    QPalette m_editPalette; // clWindow: the edit's colours while its period is valid
    std::unique_ptr<StateTrendHost> m_trendHost;
    TrendRecorder *m_recorder = nullptr; // a child: Timer1 is found under the window
    GridView *StringGridSensorsData = nullptr, *StringGridSensorsData2 = nullptr;
    QWidget *m_legend = nullptr;
    PollCycle &m_cycle;
    bool m_live = false;
    QList<int> m_widths;     // column widths of both grids as last laid out
    QHash<int, int> m_widen; // column -> width a changed cell needs
    // The widest digit (or minus) of the grids' font, for numbers that need no measuring.
    QFont m_numberFont;
    int m_digitWidth = 0;
    bool m_fullPassPending = false;
    bool m_passQueued = false;
    int m_layoutPasses = 0;
};
