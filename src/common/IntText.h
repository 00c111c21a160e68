#pragma once
#include <QString>
#include <optional>

// Integer text as the program's settings files have always held it: optional blanks,
// optional sign, decimal, or hexadecimal after "$" or "0x". Anything else, or a value
// outside 32 bits, is not an integer.
std::optional<int> ParseIntText(const QString &text);

// "%x"-style hexadecimal: leading blanks, optional 0x, digits up to the first non-hex
// character. No digit at all is a failure.
std::optional<quint32> ParseHexPrefix(const QString &text);
