#pragma once
#include "SettingsMessage.h"

class MemIniFile;
class TextGrid;

// The checks run before a user table is written to the controller. Each reports only the
// first fault, as one message (caption, text), and then returns false.

// Sensor settings: every row must name a sensor, every cell must be a number (the ID
// column by ParseSensorId), and every cell that differs from the controller row of the
// same sensor must lie within [ss_limits] down<k>..up<k> of deviceIni. On a row that
// names no sensor, that row becomes the user table's top row and *faultRow gets it so
// that the shell can make it current.
bool ValidateSensorSettings(TextGrid &userTable, const TextGrid &controllerTable,
                            const MemIniFile &deviceIni, const MemIniFile &settingsIni,
                            int maxSensors, const ShowMessage &show, int *faultRow = nullptr);

// Relay settings: only cells that differ from the controller's are examined, first as
// numbers, then against [relay_limits].
bool ValidateRelaySettings(const TextGrid &userTable, const TextGrid &controllerTable,
                           const MemIniFile &deviceIni, const MemIniFile &settingsIni,
                           const ShowMessage &show);

// The six user-side connection values: the two edit texts and the four combo-box item
// indexes (-1, or any index outside the list, = no item chosen).
struct ConnectUserValues {
    QString addr;
    int baud = -1;
    int parity = -1;
    int stops = -1;
    QString chan;
    int language = -1;
};

// Item counts of the connection combo boxes (baud rate, parity, stop bits, menu language).
inline constexpr int kBaudRateItems = 5;
inline constexpr int kParityItems = 3;
inline constexpr int kStopsItems = 2;
inline constexpr int kMenuLanguageItems = 2;

// Address 1..247, channel 1..126, then a chosen item in each combo box, in that order.
bool ValidateConnectSettings(const ConnectUserValues &values, const MemIniFile &settingsIni,
                             const ShowMessage &show);
