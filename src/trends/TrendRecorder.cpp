#include "TrendRecorder.h"

#include "IntText.h"
#include "MemIniFile.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kSection = QStringLiteral("trends");
const QString kKey = QStringLiteral("time");
constexpr int kTagWaitMs = 25000;
constexpr int kStartPeriodS = 5; // [trends] time when Start finds none
} // namespace

std::optional<int> ParseTrendPeriod(const QString &text)
{
    const auto value = ParseIntText(text);
    if (!value || *value < 1 || *value > kMaxTrendPeriodS)
        return std::nullopt;
    return value;
}

TrendRecorder::TrendRecorder(MemIniFile &settingsIni, TrendHost &host, QObject *parent)
    : QObject(parent), m_settings(settingsIni), m_host(host),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    // Children, so the window's Timer1 is found by name under the main window.
    m_timer.setParent(this);
    m_tagWait.setParent(this);
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setInterval(5000);
    connect(&m_timer, &QTimer::timeout, this, &TrendRecorder::Timer1Timer);
    m_tagWait.setSingleShot(true);
    m_tagWait.setInterval(kTagWaitMs);
    connect(&m_tagWait, &QTimer::timeout, this, &TrendRecorder::beginRecording);
}

QString TrendRecorder::text(const TextKey &key) const
{
    return LookupText(m_settings, key);
}

void TrendRecorder::ButtonStartFileClick()
{
    if (!m_host.LinkUp())
        return;
    m_host.ShowPanel10(text(Msg::n127));
    // Beside the settings: the working folder, or a plant controller's own.
    const QString folder =
        QFileInfo(m_settings.fileName()).absoluteDir().filePath(QStringLiteral("Trends"));
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)) {
        m_host.ShowPanel10(text(Msg::n130) + QDir::toNativeSeparators(folder));
        return;
    }
    m_folder = folder;
    m_host.RequestAllTags();
    m_tagWait.start(); // a second Start while waiting waits afresh
}

void TrendRecorder::AllTagsRead()
{
    if (m_tagWait.isActive())
        beginRecording();
}

void TrendRecorder::beginRecording()
{
    m_tagWait.stop();
    m_file = TrendFile(QDir::toNativeSeparators(freeFileName(m_folder)));
    m_rowFailed = false;
    m_paused = false;
    m_host.HidePanel10();
    m_host.ShowStatus1(text(Msg::n128) + m_file.path());
    m_host.SetTrendHint(text(Msg::n129) + m_file.path());
    int period = m_settings.readInteger(kSection, kKey, kStartPeriodS);
    if (period < 1 || period > kMaxTrendPeriodS) // a hand-edited start.ini
        period = kStartPeriodS;
    m_timer.start(period * 1000);
    Timer1Timer(); // the first row (and the header) at once
}

// The name of the start time; a Start within the same second as the last one gets a
// number, so an old file is never continued under another recording.
QString TrendRecorder::freeFileName(const QString &folder) const
{
    const QString base = TrendFileBaseName(m_clock());
    QString name = QDir(folder).filePath(base);
    for (int n = 2; QFileInfo::exists(name) || QDir::toNativeSeparators(name) == m_file.path(); ++n)
        name = QDir(folder).filePath(base.chopped(4) + QStringLiteral("_%1.txt").arg(n));
    return name;
}

void TrendRecorder::ButtonStopFileClick()
{
    if (m_tagWait.isActive()) { // Stop before the recording began cancels the Start
        m_tagWait.stop();
        m_host.HidePanel10();
    }
    m_timer.stop();
    m_paused = false;
    m_host.ShowStatus1(QString());
    m_host.SetTrendHint(text(Msg::n129) + m_file.path());
}

void TrendRecorder::ShowTextsAgain()
{
    if (m_file.path().isEmpty())
        return;
    m_host.SetTrendHint(text(Msg::n129) + m_file.path());
    if (recording() && !m_rowFailed)
        m_host.ShowStatus1(text(m_paused ? Msg::n140 : Msg::n128) + m_file.path());
}

void TrendRecorder::Timer1Timer()
{
    if (!m_host.LinkUp()) {
        pause();
        return;
    }
    if (m_paused)
        resume();
    m_rowRequested = true;
}

// A glitch of a few seconds must not end a recording left running overnight: the file
// stays, and a row due meanwhile is dropped rather than written from readings of before.
void TrendRecorder::pause()
{
    if (!recording())
        return;
    m_rowRequested = false;
    if (m_paused)
        return;
    m_paused = true;
    m_host.ShowStatus1(text(Msg::n140) + m_file.path());
}

void TrendRecorder::resume()
{
    m_paused = false;
    m_rowFailed = false;
    m_host.ShowStatus1(text(Msg::n128) + m_file.path());
}

bool TrendRecorder::LiveDataWanted()
{
    if (paused() && m_host.LinkUp()) {
        resume();
        m_rowRequested = true; // the readings of the moment the link came back
    }
    return m_rowRequested;
}

bool TrendRecorder::EditTrendTimeChange(const QString &text)
{
    const auto period = ParseTrendPeriod(text);
    if (!period)
        return false;
    // The edit filled at start-up with the stored period: start.ini already holds it.
    if (m_settings.valueExists(kSection, kKey) &&
        m_settings.readInteger(kSection, kKey, 0) == *period)
        return true;
    m_settings.writeInteger(kSection, kKey, *period);
    m_host.SaveSettings();
    return true;
}

void TrendRecorder::LiveDataRead(const TrendReadings &readings)
{
    if (!m_rowRequested)
        return;
    m_rowRequested = false; // several ticks before one good cycle give one row
    writeRow(readings, true);
}

void TrendRecorder::LiveDataFailed()
{
    // No statuses: no header can be made from them, and every cell of a row stays empty.
    if (!m_rowRequested || !QFileInfo::exists(m_file.path()))
        return;
    m_rowRequested = false;
    writeRow(TrendReadings{}, false);
}

void TrendRecorder::writeRow(const TrendReadings &readings, bool mayCreate)
{
    if (m_file.path().isEmpty())
        return;
    QString why;
    const QDateTime when = m_clock();
    if (!(mayCreate ? m_file.WriteRow(readings, when, &why)
                    : m_file.AppendRow(readings, when, &why))) {
        m_rowFailed = true;
        m_host.ShowStatus1(text(Msg::n131) + m_file.path() + QStringLiteral(" (") + why + u')');
        return;
    }
    if (m_rowFailed) {
        m_rowFailed = false;
        if (recording() && !m_paused)
            m_host.ShowStatus1(text(Msg::n128) + m_file.path());
    }
}
