// The files a user hands the program: a profile to load, a tag list, a trend file to view.
// None crashes it; a refused profile leaves the tables as they were; a loaded tag list
// keeps the table's rows and every tag within its length; a trend file read gives one value
// per row in every channel.
#include "FuzzInput.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ProfileFile.h"
#include "SensorRows.h"
#include "SensorTags.h"
#include "TextGrid.h"
#include "TrendReader.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

// The user side of a window with the shipped texts and the firmware 1.2 map: 7 sensor
// columns, 4 relays of 4 settings; sensors 3, 7 and 12 chosen.
const MemIniFile &deviceConfig() {
    static const MemIniFile ini{
        QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_2.ini")};
    return ini;
}

// The shipped start.ini in either language, read once.
const MemIniFile &settingsOf(int lang) {
    static MemIniFile texts[2] = {
        MemIniFile{QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini")},
        MemIniFile{QStringLiteral(VELMARIS_SOURCE_DIR "/data/start.ini")}};
    static bool set = [] {
        for (int l = 0; l < 2; ++l) {
            texts[l].rename(QString(), false);
            texts[l].writeInteger(QStringLiteral("language"), QStringLiteral("lang"), l);
        }
        return true;
    }();
    Q_UNUSED(set);
    return texts[lang];
}

struct Window {
    const MemIniFile &settingsIni;
    const MemIniFile &deviceIni;
    TextGrid sensors{7, 2};
    TextGrid tags{1, 2};
    TextGrid relays{5, 5};
    ConnectUserValues connect;

    explicit Window(int lang) : settingsIni(settingsOf(lang)), deviceIni(deviceConfig()) {
        const auto text = [&](int key) {
            return LookupText(settingsIni, QStringLiteral("n%1").arg(key).toLatin1().constData(),
                              QStringLiteral("Not found"));
        };
        for (int c = 0; c < 7; ++c)
            sensors.setCell(c, 0, text(25 + c));
        tags.setCell(0, 0, text(122));
        for (int c = 0; c < 5; ++c)
            relays.setCell(c, 0, text(34 + c));
        for (int k = 1; k <= 4; ++k)
            relays.setCell(0, k,
                           LookupText(settingsIni, "n39", QStringLiteral("Реле")) + u' ' +
                               QString::number(k));
        QList<bool> ticks(36, false);
        ticks[2] = ticks[6] = ticks[11] = true;
        ApplySensorSelection(sensors, tags, ticks, 36, LookupText(settingsIni, Msg::n32));
        for (int r = 1; r < sensors.rowCountGrid(); ++r)
            for (int c = 1; c < 7; ++c)
                sensors.setCell(c, r, QString::number(10 * r + c));
    }

    QStringList snapshot() const {
        QStringList out;
        for (const TextGrid *g : {&sensors, &tags, &relays})
            for (int r = 0; r < g->rowCountGrid(); ++r)
                out.append(g->rowTexts(r).join(u'|'));
        out.append(QStringLiteral("%1|%2|%3|%4|%5|%6")
                       .arg(connect.addr)
                       .arg(connect.baud)
                       .arg(connect.parity)
                       .arg(connect.stops)
                       .arg(connect.chan)
                       .arg(connect.language));
        return out;
    }
};

QTemporaryDir *folder = nullptr;

void profile(FuzzInput &in, bool ids, int lang) {
    Window w(lang);
    MemIniFile profile{QString()};
    profile.setBytes(in.rest());
    const QStringList before = w.snapshot();
    const ProfileContext context{w.settingsIni, w.deviceIni, 36,
                                 [](const QString &, const QString &) {}};
    if (!LoadProfile(profile, {w.sensors, w.tags, w.relays, w.connect}, ids, context))
        FUZZ_CHECK(w.snapshot() == before);
    FUZZ_CHECK(w.tags.rowCountGrid() == w.sensors.rowCountGrid());
}

void tagFile(FuzzInput &in, int tagSize) {
    Window w(0);
    const int rows = w.tags.rowCountGrid();
    const QString path = folder->filePath(QStringLiteral("tags.txt"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(in.rest());
    f.close();
    const QStringList before = w.snapshot();
    if (!LoadTagFile(path, w.tags, tagSize, w.settingsIni, [](const QString &, const QString &) {}))
        FUZZ_CHECK(w.snapshot() == before);
    FUZZ_CHECK(w.tags.rowCountGrid() == rows);
    for (int r = 1; r < rows; ++r)
        FUZZ_CHECK(w.tags.cell(0, r).size() <= 2 * tagSize);
}

void trend(FuzzInput &in) {
    QString error;
    const auto data = ParseTrend(in.rest(), &error);
    if (!data) {
        FUZZ_CHECK(!error.isEmpty());
        return;
    }
    for (const TrendChannel &c : data->channels)
        FUZZ_CHECK(c.values.size() == data->times.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    folder = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t what = in.byte();
    switch (what % 3) {
    case 0:
        profile(in, what & 0x10, (what >> 5) & 1);
        break;
    case 1:
        tagFile(in, 1 + (what >> 2) % 16);
        break;
    case 2:
        trend(in);
        break;
    }
    return 0;
}
