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

// Largest tag file taken: far more than any tag list (36 tags of 2 x 125 characters).
inline constexpr qint64 kMaxTagFileBytes = 64 * 1024;

// LoadFromFileItem: line r-1 of the file (Windows-1251, or UTF-8 after a byte-order mark)
// into tag row r, for as many rows as both have; each line cut like a typed tag. A file
// that cannot be read, is empty, larger than kMaxTagFileBytes or holds control bytes other
// than tab and line breaks is refused with one message and leaves the table unchanged.
bool LoadTagFile(const QString &path, TextGrid &tagTable, int tagSize,
                 const MemIniFile &settingsIni, const ShowMessage &show);
