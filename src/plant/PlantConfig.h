#pragma once
#include <QString>

#include <optional>
#include <vector>

class MemIniFile;

// One controller of plant.ini: a section named after the controller, in the file's order.
//   [Cold room 1]
//   port=/dev/ttyUSB0        as [connect] port: COM3, /dev/..., tcp://host:port, mbtcp://host:port
//   adr=1                    1..247
//   speed=3                  optional, as [connect] speed (item index); parity, stopbits alike
//   cfg=Cfg/special.ini      optional: this file instead of the one chosen by firmware
struct PlantEntry {
    QString name; // unique in the plant; shown in the plant view and the window's title
    QString port;
    int address = 1;
    std::optional<int> speed;
    std::optional<int> parity;
    std::optional<int> stopbits;
    QString cfg;
    bool operator==(const PlantEntry &) const = default;
};

struct PlantConfig {
    std::vector<PlantEntry> controllers;
    bool operator==(const PlantConfig &) const = default;
};

inline constexpr const char *kPlantFileName = "plant.ini";

// The line settings a controller uses: its own where plant.ini gives them, else start.ini's.
struct PlantLine {
    int speed = 0;
    int parity = 0;
    int stopbits = 0;
    bool operator==(const PlantLine &) const = default;
};
PlantLine LineOf(const PlantEntry &e, const MemIniFile &startIni);

// Ports that lead to one line are one bus ("COM3" and "com3" on Windows; a tcp:// host
// written in another case).
QString BusKey(const QString &port);

// The plant as a whole, checked: empty when sound, else the message (in the program's
// language, texts from startIni) of the first fault: an empty or duplicate name, an empty
// or unusable port, address 0 or above 247, two controllers with one address on one port,
// two controllers with different line settings on one port, a Cfg override that is missing.
QString CheckPlant(const PlantConfig &plant, const MemIniFile &startIni, const QString &workFolder);

// Reads path (Windows-1251, or UTF-8 with a BOM) and checks it. False with the message of
// the first fault (a file that cannot be read, a bad number, or CheckPlant's); out is
// left as it was then.
bool ReadPlant(const QString &path, const MemIniFile &startIni, const QString &workFolder,
               PlantConfig &out, QString &error);

// Writes atomically: Windows-1251 when every name fits it, else UTF-8 with a BOM.
bool WritePlant(const QString &path, const PlantConfig &plant, QString &error);
// The same, the failure in the program's language (texts from startIni; null: built-in).
bool WritePlant(const QString &path, const PlantConfig &plant, QString &error,
                const MemIniFile *startIni);
