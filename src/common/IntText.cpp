#include "IntText.h"

std::optional<int> ParseIntText(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+')) {
        negative = t[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < t.size() && t[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        const int d = QChar(t[i]).isDigit() && t[i].unicode() < 128 ? t[i].unicode() - '0'
                      : base == 16 && t[i].toLower() >= u'a' && t[i].toLower() <= u'f'
                          ? t[i].toLower().unicode() - 'a' + 10
                          : -1;
        if (d < 0)
            return std::nullopt;
        value = value * base + d;
        if (value > 0x80000000LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL || value < -0x80000000LL)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<quint32> ParseHexPrefix(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X'))
        i += 2;
    quint64 value = 0;
    bool any = false;
    for (; i < text.size(); ++i) {
        const char16_t c = QChar(text[i]).toLower().unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else
            break;
        any = true;
        value = (value * 16 + d) & 0xFFFFFFFFULL; // %x keeps the low bits of a long number
    }
    if (!any)
        return std::nullopt;
    return static_cast<quint32>(value);
}
