#include "SettingsMessage.h"

#include "Cp1251.h"
#include "MemIniFile.h"

QString FixedText(const MemIniFile &settingsIni, const char16_t *russian, const char *english)
{
    const int lang = settingsIni.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0);
    return lang == 1 ? QString::fromUtf8(english) : QString::fromUtf16(russian);
}

QString CellTextForCodePage(const QString &text, QString *replaced)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            if (replaced)
                replaced->append(QStringView(text).mid(i, 2));
            out.append(u'?');
            ++i;
            continue;
        }
        // A NUL would end a tag early and a line break would split a profile line.
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            out.append(u' ');
            continue;
        }
        if (Cp1251::byteOf(c) < 0) {
            if (replaced)
                replaced->append(c);
            out.append(u'?');
            continue;
        }
        out.append(c);
    }
    return out;
}

QString CodePageMessage(const MemIniFile &settingsIni, const QString &replaced)
{
    return FixedText(settingsIni,
                     u"Символы, которых нет в кодировке Windows-1251, заменены на «?»: ",
                     "Characters that Windows-1251 cannot hold were replaced by \"?\": ") +
           replaced;
}
