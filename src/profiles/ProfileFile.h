#pragma once
#include "SettingsMessage.h"
#include "SettingsValidation.h"

#include <QString>

class MemIniFile;
class TextGrid;

// Profile files: one complete set of user settings in an INI text file (Windows-1251,
// CR LF). Sections in the order written: [hardware] (hw, fw), one section per sensor row
// named by its row header with one key per column header, [tags] (after the first sensor),
// one section per relay row, [connect]. Sensor and relay section and key names are the
// header texts of the tables in the language in use when the profile was saved.
//
// Nothing here opens a dialog: the shell picks the file and calls these from the
// dialog's finished handler; every fault is reported through ShowMessage.

// The user side of the window that a profile holds. Saving only reads it.
struct ProfileUserSide {
    TextGrid &sensorSettingsUser; // StringGridSensorSettingsUser
    TextGrid &tagUser;            // StringGridTagUser, rows in step with the sensor table
    TextGrid &relaySettingsUser;  // StringGridRelaySettingsUser
    ConnectUserValues &connectUser;
};

// What profile actions look things up in.
struct ProfileContext {
    const MemIniFile &settingsIni; // start.ini: texts of every language, [language] lang
    const MemIniFile &deviceIni;   // configuration in use: [hardware] fw
    int maxSensors = 0;            // MAX_SENSORS of the register map in use
    ShowMessage show;
    // QOR_SENSOR_TAG_SIZE of the register map in use: a loaded tag is cut to what a typed
    // one may hold (0: a firmware without tags, nothing cut).
    int tagSize = 0;
};

// Largest file taken as a profile. A full profile (36 sensors with tags, the relays, the
// connection) is a few kilobytes; anything near this is not a profile, and reading it
// whole into memory would only hurt.
inline constexpr qint64 kMaxProfileBytes = 1024 * 1024;

// Fills an empty in-memory profile from the user side. storeIds: write the sensor-ID
// column (1) too. Refuses, with a message naming it, a header text that two columns of a
// table (or two sections) share: one key would hold both values and a load would spread
// the last one over both columns.
bool SaveProfile(MemIniFile &profile, const ProfileUserSide &user,
                 const QString &hardwareVersionText, const QString &firmwareVersionText,
                 bool storeIds, const ProfileContext &context);

// SaveProfile into a new profile for path, then the file is replaced atomically: a failed
// write is reported and leaves the old file as it was.
bool SaveProfileFile(const QString &path, const ProfileUserSide &user,
                     const QString &hardwareVersionText, const QString &firmwareVersionText,
                     bool storeIds, const ProfileContext &context);

// The profile's bytes on disk: every section followed by one empty line, CR LF.
QByteArray ProfileBytes(const MemIniFile &profile);

// Reads path into profile (named after it). A missing file gives the text of n72; a file
// that cannot be read, is larger than kMaxProfileBytes, holds control bytes or has no
// section at all is refused with its own message. profile is changed only on success.
bool ReadProfileFile(const QString &path, MemIniFile &profile, const ProfileContext &context);

// True when the profile's [hardware] fw equals the configuration's (exact text; hw is not
// compared); otherwise the firmware-mismatch message and false.
bool CheckProfileFirmware(const MemIniFile &profile, const ProfileContext &context);

// Loads the profile into the user side: relay rows that have a section, the sensor and tag
// tables rebuilt from the sensor sections in increasing sensor number (each tag cut as
// typing cuts it, so that a write sends the whole of what the table shows), [connect]. loadIds
// clear: the ID column is left empty. When no sensor or relay section (with a key) matches
// the tables' header texts, the header texts of the other language sections of start.ini
// are tried; when none matches either and the profile holds other sections than
// [hardware], [tags] and [connect], it says so and changes nothing.
bool LoadProfile(const MemIniFile &profile, const ProfileUserSide &user, bool loadIds,
                 const ProfileContext &context);

// Read, firmware check and load with IDs: what both load actions do.
bool LoadProfileFile(const QString &path, const ProfileUserSide &user,
                     const ProfileContext &context);
