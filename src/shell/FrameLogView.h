#pragma once
#include <QTimer>
#include <QWidget>

class FrameLogModel;
class MainState;
class QCheckBox;
class QFileDialog;
class QPushButton;
class QTableView;

// FrameLogView: the last frames on the link, in a window of its own. It takes new frames
// from the log a few times a second while shown and not paused; hidden, it costs nothing.
class FrameLogView : public QWidget {
    Q_OBJECT
public:
    explicit FrameLogView(MainState &state, QWidget *parent = nullptr);

    void ApplyCaptions();
    FrameLogModel &model() { return *m_model; }
    // The selected rows as text, one line a row (what the copy button puts on the
    // clipboard).
    QString SelectedText() const;
    // Writes the rows shown, with a header line, replacing the file as a whole. False with
    // the reason in *error.
    bool SaveTo(const QString &path, QString *error) const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void CopySelected();
    void AskFileToSave();
    void Refresh();

    MainState &m_state;
    FrameLogModel *m_model;
    QTimer m_refresh;
    bool m_followEnd = true; // the user looks at the newest rows
    QTableView *TableFrameLog;
    QPushButton *ButtonFrameLogPause, *ButtonFrameLogCopy, *ButtonFrameLogSave;
    QCheckBox *CheckBoxFrameLogFailuresOnly;
};
