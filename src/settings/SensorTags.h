#pragma once
#include "SettingsMessage.h"

#include <QList>
#include <span>

class MemIniFile;
class TextGrid;

// Sensor tags: at most 2 x QOR_SENSOR_TAG_SIZE Windows-1251 characters, two per register,
// high byte first, ended by a zero byte.

// The text of a tag block: its first tagSize words (fewer when the block is shorter), up
// to the first zero byte.
QString SensorTagText(std::span<const quint16> words, int tagSize);
// Exactly tagSize words holding the text's first 2 x tagSize characters, zero-filled
// after them. A character the code page cannot hold is sent as '?'.
QList<quint16> SensorTagWords(const QString &text, int tagSize);

// A tag as a cell may hold it: code-page rule of CellTextForCodePage, then cut to its
// first 2 x tagSize characters. tagSize 0 (a firmware without tags) cuts nothing.
QString TagCellText(const QString &text, int tagSize, QString *replaced = nullptr);

// LoadFromFileItem: line r-1 of the file (Windows-1251, or UTF-8 after a byte-order mark)
// into tag row r, for as many rows as both have; each line cut like a typed tag. Lines end
// at CR LF, LF or CR. Only the lines the table can take are read, and of each only what a
// tag can hold, so the size of the file does not matter. An empty file changes nothing.
// A file that cannot be opened or read is reported with one message and leaves the table
// unchanged; false then.
bool LoadTagFile(const QString &path, TextGrid &tagTable, int tagSize,
                 const MemIniFile &settingsIni, const ShowMessage &show);
