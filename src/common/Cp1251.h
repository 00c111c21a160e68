#pragma once
#include <QByteArray>
#include <QString>

// Windows-1251 by our own table: Qt's ICU-backed codecs are not in every Qt build.
namespace Cp1251 {

QString decode(const QByteArray &bytes);
QString decode(const char *bytes, qsizetype length);

// Characters the code page cannot hold become '?'; *lossless tells whether any did.
QByteArray encode(const QString &text, bool *lossless = nullptr);

// The byte of one character, or -1 when the code page cannot hold it.
int byteOf(QChar c);

bool canEncode(const QString &text);

} // namespace Cp1251
