#pragma once
#include "FrameLog.h"

#include <QAbstractTableModel>
#include <deque>
#include <map>

class MemIniFile;

// The frame log as a table, one row a frame, oldest first. It takes what the ring holds
// when refreshed, so a hidden log costs only the recording; paused, it keeps what it shows.
class FrameLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Time,
        Direction,
        Attempt,  // 1 the first of its transaction, 2 and on its retries
        Response, // ms from the request to the end of its answer
        Function,
        Start,
        Count,
        Bytes,
        Failure,
        ColumnCount
    };
    // True on the rows of a failed attempt.
    static constexpr int FailureRole = Qt::UserRole + 1;

    FrameLogModel(const FrameLog &log, const MemIniFile &settings, QObject *parent = nullptr);

    // Takes the frames recorded since the last refresh; drops rows the ring no longer
    // holds. Nothing while paused.
    void Refresh();
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    // Only the frames of failed attempts (request and answer both).
    void setFailuresOnly(bool on);
    bool failuresOnly() const { return m_failuresOnly; }
    // Texts of the current language, the rows already shown included.
    void ApplyTexts();

    // One line of text a row, cells separated by TABs, as copied and saved. withDate: the
    // time stamp carries the date (a saved file outlives the day).
    QString RowText(int row, bool withDate = false) const;
    QString HeaderText() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QString cellText(const FrameLog::Frame &f, int column, bool withDate) const;
    QString functionText(int function) const;
    QString failureText(const FrameLog::Frame &f) const;
    bool shown(const FrameLog::Frame &f) const;
    void rebuild();

    const FrameLog &m_log;
    const MemIniFile &m_settings;
    std::deque<FrameLog::Frame> m_rows;
    quint64 m_seen = 0; // the ring's next sequence number at the last refresh
    bool m_paused = false;
    bool m_failuresOnly = false;
    QString m_headers[ColumnCount];
    QString m_request, m_answer, m_read, m_writeOne, m_writeMany, m_exception;
    // Failure texts by outcome, of a read and of a write.
    QString m_readFailures[kAttemptOutcomes], m_writeFailures[kAttemptOutcomes];
    std::map<int, QString> m_exceptionNames;
};
