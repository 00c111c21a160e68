#pragma once
// The file versions the torn-file writer goes through, so the test can tell a whole old
// or new version from anything else.
#include "MemIniFile.h"
#include "ProfileFile.h"
#include "TextGrid.h"
#include "TrendFile.h"

#include <QByteArray>
#include <array>

namespace Torn {

// start.ini at generation k: the generation and a payload whose length changes with it,
// so a short or mixed file cannot pass for a whole one.
inline void SetIniVersion(MemIniFile &ini, int k) {
    ini.writeInteger(QStringLiteral("torn"), QStringLiteral("generation"), k);
    ini.writeString(QStringLiteral("torn"), QStringLiteral("payload"),
                    QString(200 + (k * 37) % 3000, QChar(u'a' + k % 26)));
}

// A profile whose every cell names generation k.
struct ProfileTables {
    TextGrid sensors{7, 4};
    TextGrid tags{1, 4};
    TextGrid relays{5, 5};
    ConnectUserValues connect;

    explicit ProfileTables(int k) {
        for (int c = 0; c < 7; ++c)
            sensors.setCell(c, 0, QStringLiteral("col%1").arg(c));
        for (int r = 1; r < 4; ++r) {
            sensors.setCell(0, r, QStringLiteral("Датчик %1").arg(r));
            for (int c = 1; c < 7; ++c)
                sensors.setCell(c, r, QString::number(k * 100 + r * 10 + c));
            tags.setCell(0, r, QStringLiteral("T%1-%2").arg(k).arg(QString(k % 40, u'x')));
        }
        for (int c = 0; c < 5; ++c)
            relays.setCell(c, 0, QStringLiteral("rel%1").arg(c));
        for (int r = 1; r < 5; ++r) {
            relays.setCell(0, r, QStringLiteral("Реле %1").arg(r));
            for (int c = 1; c < 5; ++c)
                relays.setCell(c, r, QString::number(k + c));
        }
        connect = {QString::number(k % 247 + 1), k % 5, k % 3, k % 2,
                   QString::number(k % 126 + 1), k % 2};
    }
    ProfileUserSide user() { return {sensors, tags, relays, connect}; }
};

inline ProfileContext QuietContext(const MemIniFile &settings, const MemIniFile &device) {
    return {settings, device, 36, [](const QString &, const QString &) {}};
}

// Trend row n: sensor 1 shows n's low word, sensor 2 its high word.
struct TrendRow {
    std::array<quint16, 2> statuses{0, 0};
    std::array<quint16, 2> temperatures;
    explicit TrendRow(int n) : temperatures{quint16(n & 0xFFFF), quint16(n >> 16)} {}
    TrendReadings readings() const { return {statuses, temperatures, {}}; }
};

} // namespace Torn
