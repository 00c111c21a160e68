#include "SensorTags.h"

#include "Cp1251.h"
#include "LookupText.h"
#include "TextGrid.h"

#include <QFile>
#include <QFileInfo>
#include <QStringConverter>

QString SensorTagText(std::span<const quint16> words, int tagSize)
{
    QByteArray bytes;
    const size_t count = std::min(words.size(), size_t(qMax(0, tagSize)));
    for (size_t k = 0; k < count; ++k) {
        const char pair[2] = {char(words[k] >> 8), char(words[k] & 0xFF)};
        for (char b : pair) {
            if (b == 0)
                return Cp1251::decode(bytes);
            bytes.append(b);
        }
    }
    return Cp1251::decode(bytes);
}

QList<quint16> SensorTagWords(const QString &text, int tagSize)
{
    const int size = qMax(0, tagSize);
    QByteArray bytes = Cp1251::encode(TagCellText(text, size)).left(2 * size);
    bytes.resize(2 * size, '\0');
    QList<quint16> words(size);
    for (int k = 0; k < size; ++k)
        words[k] = quint16(quint8(bytes[2 * k]) << 8 | quint8(bytes[2 * k + 1]));
    return words;
}

QString TagCellText(const QString &text, int tagSize, QString *replaced)
{
    const QString clean = CellTextForCodePage(text, replaced);
    return tagSize > 0 ? clean.left(2 * tagSize) : clean;
}

namespace {

bool IsBinary(const QByteArray &bytes)
{
    for (char b : bytes)
        if (quint8(b) < 0x20 && b != '\t' && b != '\n' && b != '\r')
            return true;
    return false;
}

// Lines as a text-file reader gives them: CR LF, LF or CR end a line; a final line
// break does not start another line.
QStringList SplitLines(const QString &text)
{
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(line);
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            line.append(c);
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

} // namespace

bool LoadTagFile(const QString &path, TextGrid &tagTable, int tagSize,
                 const MemIniFile &settingsIni, const ShowMessage &show)
{
    const QString caption = LookupText(settingsIni, Msg::n67);
    const auto refuse = [&](const char16_t *ru, const char *en, const QString &detail = {}) {
        show(caption, FixedText(settingsIni, ru, en) + QFileInfo(path).absoluteFilePath() +
                          (detail.isEmpty() ? QString() : u'\n' + detail));
        return false;
    };
    const auto tooLarge = [&] {
        return refuse(u"Файл меток слишком велик (не более 64 КБ): ",
                      "The tag file is too large (64 KB at most): ");
    };
    const auto notText = [&] {
        return refuse(u"Файл меток не является текстовым: ", "The tag file is not a text file: ");
    };
    // Only a plain file: a device or a pipe could block or never end.
    if (QFileInfo info(path); info.exists() && !info.isFile())
        return refuse(u"Не удалось открыть файл меток: ", "Cannot open the tag file: ");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(u"Не удалось открыть файл меток: ",
                      "Cannot open the tag file: ", file.errorString());
    if (file.size() > kMaxTagFileBytes)
        return tooLarge();
    // One byte over the limit tells a file that grew after its size was taken.
    QByteArray bytes = file.read(kMaxTagFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(u"Ошибка чтения файла меток: ",
                      "Cannot read the tag file: ", file.errorString());
    if (bytes.size() > kMaxTagFileBytes)
        return tooLarge();
    const bool utf8 = bytes.startsWith("\xEF\xBB\xBF");
    if (utf8)
        bytes.remove(0, 3);
    if (IsBinary(bytes))
        return notText();
    QString text;
    if (utf8) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        text = decoder.decode(bytes);
        if (decoder.hasError())
            return notText();
    } else {
        text = Cp1251::decode(bytes);
    }
    const QStringList lines = SplitLines(text);
    if (lines.isEmpty())
        return refuse(u"Файл меток пуст: ", "The tag file is empty: ");

    QString replaced;
    for (int r = 1; r < tagTable.rowCountGrid() && r - 1 < lines.size(); ++r)
        tagTable.setCell(0, r, TagCellText(lines[r - 1], tagSize, &replaced));
    if (!replaced.isEmpty())
        show(caption, CodePageMessage(settingsIni, replaced));
    return true;
}
