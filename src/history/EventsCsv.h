#pragma once
#include "HistoryTypes.h"

#include <QByteArray>
#include <QString>
#include <vector>

class MemIniFile;

// A time as ISO 8601 on the local clock with its offset: "2026-12-08T03:12:45+03:00".
QString IsoLocalTime(qint64 ms);
// A controller as the events name it: "/dev/ttyUSB0 #1"; empty for the program's own rows.
QString HistoryControllerText(int controller, const std::vector<HistoryControllerRow> &rows);
// The sensor or relay an event is about, as a number; empty for events about neither.
QString HistoryEventSubject(const HistoryEvent &event);

// Events as a spreadsheet reads them: UTF-8 with a byte-order mark (Cyrillic survives), ';'
// between cells, a header line in the program's language, then one line per event in the
// order given: time, kind, controller, sensor/relay, text, alarm, acknowledged at.
QByteArray EventsCsv(const std::vector<HistoryEvent> &events,
                     const std::vector<HistoryControllerRow> &controllers,
                     const MemIniFile &settings);
// The same into a file, replaced as a whole; false with the reason.
bool WriteEventsCsv(const QString &path, const std::vector<HistoryEvent> &events,
                    const std::vector<HistoryControllerRow> &controllers,
                    const MemIniFile &settings, QString *error = nullptr);
