#include "EventsCsv.h"

#include "AtomicFile.h"
#include "HistoryService.h"
#include "HistoryViewTexts.h"

#include <QDateTime>
#include <QStringList>

QString IsoLocalTime(qint64 ms)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const int offset = local.offsetFromUtc(); // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString HistoryControllerText(int controller, const std::vector<HistoryControllerRow> &rows)
{
    for (const HistoryControllerRow &r : rows)
        if (r.id == controller)
            return r.controller.port + QStringLiteral(" #") + QString::number(r.controller.address);
    return controller > 0 ? QString::number(controller) : QString();
}

QString HistoryEventSubject(const HistoryEvent &event)
{
    if (event.kind == EventKind::SensorStatus || event.kind == EventKind::RelaySwitched)
        return QString::number(event.subject);
    return QString();
}

namespace {

QString Cell(const QString &text)
{
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n') &&
        !text.contains(u'\r'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

} // namespace

QByteArray EventsCsv(const std::vector<HistoryEvent> &events,
                     const std::vector<HistoryControllerRow> &controllers,
                     const MemIniFile &settings)
{
    const QString alarm = LookupText(settings, Msg::n605);
    QStringList header;
    for (const TextKey &k : {Msg::n600, Msg::n601, Msg::n602, Msg::n603, Msg::n604, Msg::n605,
                             Msg::n606})
        header << Cell(LookupText(settings, k));
    QString text = header.join(u';') + QStringLiteral("\r\n");
    for (const HistoryEvent &e : events) {
        const QString cells[] = {IsoLocalTime(e.timeMs),
                                 HistoryEventKindText(e.kind, settings),
                                 HistoryControllerText(e.controller, controllers),
                                 HistoryEventSubject(e),
                                 HistoryEventText(e, settings),
                                 e.alarm ? alarm : QString(),
                                 e.acknowledgedMs > 0 ? IsoLocalTime(e.acknowledgedMs) : QString()};
        QStringList line;
        for (const QString &c : cells)
            line << Cell(c);
        text += line.join(u';') + QStringLiteral("\r\n");
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

bool WriteEventsCsv(const QString &path, const std::vector<HistoryEvent> &events,
                    const std::vector<HistoryControllerRow> &controllers,
                    const MemIniFile &settings, QString *error)
{
    return WriteFileAtomically(path, EventsCsv(events, controllers, settings), error);
}
