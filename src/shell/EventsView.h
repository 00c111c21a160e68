#pragma once
#include "HistoryTypes.h"
#include "LookupText.h"

#include <QAbstractTableModel>
#include <QWidget>
#include <vector>

class HistoryStore;
class MainState;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;

// The events of the store as rows, newest first. A waiting alarm (not acknowledged yet)
// is highlighted.
class EventsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Kind, Controller, Subject, Text, Alarm, Acknowledged, ColumnCount };
    static constexpr int EventIdRole = Qt::UserRole;
    static constexpr int WaitingAlarmRole = Qt::UserRole + 1;

    explicit EventsModel(MainState &state, QObject *parent = nullptr);

    void SetEvents(std::vector<HistoryEvent> events, std::vector<HistoryControllerRow> controllers);
    const std::vector<HistoryEvent> &events() const { return m_events; }
    const std::vector<HistoryControllerRow> &controllers() const { return m_controllers; }
    // A row as one line of text, cells separated by tabs.
    QString RowText(int row) const;
    void ApplyTexts();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString Cell(int row, int column) const;

    MainState &m_state;
    std::vector<HistoryEvent> m_events;
    std::vector<HistoryControllerRow> m_controllers;
};

// The events window: the store's events filtered by kind, sensor/relay, controller and
// time; alarms acknowledged one by one or all at once; rows copied, or the filtered rows
// exported to CSV. It reads the store again when the store reports new events or
// acknowledgements, and only while shown.
class EventsView : public QWidget {
    Q_OBJECT
public:
    // Rows read at most; the newest are shown.
    static constexpr int kRowLimit = 20000;

    // store may be null: the window then says that no history is kept.
    EventsView(MainState &state, HistoryStore *store, QWidget *parent = nullptr);

    void ApplyCaptions();
    // Reads the store again with the filters as set.
    void Refresh();
    EventFilter Filter() const;
    EventsModel &model() { return *m_model; }
    QTableView *table() const { return TableEvents; }
    // The selected rows as text, one line a row.
    QString SelectedText() const;
    // Acknowledges the waiting alarms among the selected rows; all of them.
    void AcknowledgeSelected();
    void AcknowledgeAll();
    bool SaveTo(const QString &path, QString *error) const;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void StoreChanged();
    void PeriodChosen();
    void FillControllers();
    void ExportCsv();
    QString Text(const TextKey &key) const;

    MainState &m_state;
    HistoryStore *m_store;
    EventsModel *m_model;
    bool m_stale = true;
    bool m_sized = false;
    QComboBox *ComboBoxEventsKind, *ComboBoxEventsController, *ComboBoxEventsPeriod;
    QSpinBox *SpinBoxEventsSubject;
    QDateTimeEdit *DateTimeEventsFrom, *DateTimeEventsTo;
    QLabel *LabelEventsKind, *LabelEventsSubject, *LabelEventsController, *LabelEventsPeriod,
        *LabelEventsFrom, *LabelEventsTo, *LabelEventsNoStore, *LabelEventsCount;
    QPushButton *ButtonEventsAcknowledge, *ButtonEventsAcknowledgeAll, *ButtonEventsCopy,
        *ButtonEventsExport;
    QTableView *TableEvents;
};
