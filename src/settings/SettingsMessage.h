#pragma once
#include <QString>
#include <functional>

class MemIniFile;

// How the settings logic shows a message box: the shell shows a modal box with this
// caption and text, tests record them.
using ShowMessage = std::function<void(const QString &caption, const QString &text)>;

// A text the key table does not cover (code-page and tag-file messages): English when
// [language] lang is 1, Russian otherwise, like the texts that have keys.
QString FixedText(const MemIniFile &settingsIni, const char16_t *russian, const char *english);

// Makes typed or loaded text fit a single-line cell kept in Windows-1251: a character the
// code page cannot hold becomes '?' (a surrogate pair is one character) and control
// characters become blanks. *replaced gets the characters that became '?'.
QString CellTextForCodePage(const QString &text, QString *replaced = nullptr);

// The message for characters that CellTextForCodePage replaced.
QString CodePageMessage(const MemIniFile &settingsIni, const QString &replaced);
