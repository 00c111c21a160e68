#include "LookupText.h"

#include "MemIniFile.h"

QString LookupText(const MemIniFile &settings, const char *key, const QString &def)
{
    const int lang = settings.readInteger(QStringLiteral("language"), QStringLiteral("lang"), 0);
    return settings.readString(QStringLiteral("lang") + QString::number(lang),
                               QString::fromLatin1(key), def);
}

QString LookupText(const MemIniFile &settings, const TextKey &text)
{
    return LookupText(settings, text.key, QString::fromUtf16(text.russian));
}
