#pragma once
#include "LookupText.h"
#include "TrendFile.h"

#include <QObject>
#include <QTimer>
#include <optional>

class MemIniFile;

namespace Msg {
// A row that could not be written; status-bar panel 1, followed by the file name and the
// system's reason.
inline constexpr TextKey n131{"n131", u"Ошибка записи в файл тренда: "};
// Status-bar panel 1 while the link is down during a recording, followed by the file name.
inline constexpr TextKey n140{"n140", u"Запись в файл тренда приостановлена, нет связи с модулем: "};
} // namespace Msg

// What the recorder needs from the window and the poll cycle's flags.
class TrendHost {
public:
    virtual ~TrendHost() = default;
    virtual bool LinkUp() const = 0;
    // Sets readAllTagsRequested; the cycle reports back through TrendRecorder::AllTagsRead.
    virtual void RequestAllTags() = 0;
    virtual void ShowPanel10(const QString &caption) = 0; // caption, and the panel shown
    virtual void HidePanel10() = 0;
    virtual void ShowStatus1(const QString &text) = 0;  // status-bar panel 1
    virtual void SetTrendHint(const QString &text) = 0; // hint of GroupBox2
    // Rewrites start.ini from the settings; a failure is shown there.
    virtual bool SaveSettings() = 0;
};

// Periods the edit takes: whole seconds from 1 up to what the timer can count in ms.
inline constexpr int kMaxTrendPeriodS = 2147483;
// The period typed into EditTrendTime, or nothing for 0, negative or no number at all
// (the edit then turns red and the stored period stays).
std::optional<int> ParseTrendPeriod(const QString &text);

// Trend recording: the handlers of GroupBox2 and Timer1, and the row the poll cycle
// writes after it has read the live data. Start never waits: it asks the cycle for all
// tags and returns; recording begins when the cycle reports them read, or after 25 s.
// A link loss pauses the recording: no rows while the link is down, panel 1 says so, and
// the same file goes on when the controller answers again. Only Stop ends it.
class TrendRecorder : public QObject {
    Q_OBJECT
public:
    TrendRecorder(MemIniFile &settingsIni, TrendHost &host, QObject *parent = nullptr);

    // Window handlers.
    void ButtonStartFileClick();
    void ButtonStopFileClick();
    void Timer1Timer();
    // True when the text is a period; it is then stored as [trends] time and start.ini is
    // rewritten (unless it holds that period already). False: paint the edit red; nothing
    // is stored. A running recording keeps its interval.
    bool EditTrendTimeChange(const QString &text);

    // Poll cycle: the tags asked for at Start were read (or given up on).
    void AllTagsRead();
    // Poll cycle, online, before it reads the live data: true while a row waits for
    // readings of its own. A paused recording goes on from here and asks for a row at once.
    bool LiveDataWanted();
    // Poll cycle: the relay state and the live sensor data were read in this step. Writes
    // the row a tick asked for, the header first when the file is not there. A row that
    // cannot be written is shown in panel 1; the next tick tries again.
    void LiveDataRead(const TrendReadings &readings);
    // Poll cycle: the live data read for the waiting row failed. The row is written with
    // empty cells (its time, no values); without a header yet it waits for a good read.
    void LiveDataFailed();

    bool rowRequested() const { return m_rowRequested; }
    bool recording() const { return m_timer.isActive(); }
    // Recording, but the link is down: no rows until it is back.
    bool paused() const { return recording() && m_paused; }
    bool preparing() const { return m_tagWait.isActive(); }
    // The hint and panel 1 again, in the language in use now (after a switch). A row that
    // could not be written keeps its message until the next row.
    void ShowTextsAgain();
    // Full name of the current file (native separators); kept after recording stops.
    QString trendFileName() const { return m_file.path(); }
    QTimer &timer1() { return m_timer; }

    // For tests: the clock of file names and rows, and the limit of the wait for tags.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }
    void setTagWaitMs(int ms) { m_tagWait.setInterval(ms); }

private:
    QString text(const TextKey &key) const;
    void beginRecording();
    void pause();
    void resume();
    // mayCreate: a file that is not there gets a header made from these readings first.
    void writeRow(const TrendReadings &readings, bool mayCreate);
    QString freeFileName(const QString &folder) const;

    MemIniFile &m_settings;
    TrendHost &m_host;
    QTimer m_timer;   // Timer1
    QTimer m_tagWait; // single shot: the longest Start waits for the tags
    TrendFile m_file;
    QString m_folder; // the Trends folder of the Start being prepared
    bool m_rowRequested = false;
    bool m_rowFailed = false; // panel 1 shows a failed row
    bool m_paused = false;    // panel 1 shows the pause for lack of link
    std::function<QDateTime()> m_clock;
};
