#include "SensorTags.h"

#include "Cp1251.h"
#include "DeviceRegisterMap.h"
#include "LookupText.h"
#include "TextGrid.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <cstring>
#include <vector>

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

// Reads a file as text lines (CR LF, LF or CR end a line; a final break starts no further
// line), stopping after maxLines and keeping at most keepBytes of each line: the rest of
// a long line is skipped, never held.
class LineReader {
public:
    LineReader(QIODevice &device, int maxLines, qsizetype keepBytes)
        : m_device(device), m_maxLines(maxLines), m_keep(keepBytes)
    {
    }

    // False when the device could not be read.
    bool read()
    {
        std::vector<char> buffer(64 * 1024);
        bool first = true;
        while (int(lines.size()) < m_maxLines) {
            const qint64 n = m_device.read(buffer.data(), qint64(buffer.size()));
            if (n < 0)
                return false;
            if (n == 0)
                break;
            const char *p = buffer.data();
            const char *end = p + n;
            if (first && n >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
                utf8 = true;
                p += 3;
            }
            first = false;
            scan(p, end);
        }
        if (m_open && int(lines.size()) < m_maxLines)
            lines.push_back(m_line);
        return true;
    }

    std::vector<QByteArray> lines;
    bool utf8 = false;

private:
    void scan(const char *p, const char *end)
    {
        const char *cr = nullptr, *lf = nullptr; // next CR and LF in this piece, once found
        auto next = [end](const char *from, char c, const char *&cached) {
            if (!cached || cached < from) {
                const void *hit = std::memchr(from, c, size_t(end - from));
                cached = hit ? static_cast<const char *>(hit) : end;
            }
            return cached;
        };
        while (p < end && int(lines.size()) < m_maxLines) {
            if (m_afterCr) { // LF of a CR LF split between two pieces
                m_afterCr = false;
                if (*p == '\n') {
                    ++p;
                    continue;
                }
            }
            const char *stop = std::min(next(p, '\r', cr), next(p, '\n', lf));
            const qsizetype room = m_keep - m_line.size();
            if (room > 0)
                m_line.append(p, std::min<qsizetype>(room, stop - p));
            m_open = true;
            if (stop == end)
                return;
            lines.push_back(m_line);
            m_line.clear();
            m_open = false;
            p = stop + 1;
            if (*stop == '\r') {
                if (p < end && *p == '\n')
                    ++p;
                else if (p == end)
                    m_afterCr = true;
            }
        }
    }

    QIODevice &m_device;
    const int m_maxLines;
    const qsizetype m_keep;
    QByteArray m_line;
    bool m_open = false; // a line has begun and not ended
    bool m_afterCr = false;
};

// The first n characters, a surrogate pair counting as one.
QString FirstCharacters(const QString &text, int n)
{
    qsizetype i = 0;
    for (int count = 0; i < text.size() && count < n; ++count)
        i += text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
    return text.left(i);
}

} // namespace

bool LoadTagFile(const QString &path, TextGrid &tagTable, int tagSize,
                 const MemIniFile &settingsIni, const ShowMessage &show)
{
    const QString caption = LookupText(settingsIni, Msg::n67);
    const auto refuse = [&](const char16_t *ru, const char *en, const QString &detail) {
        show(caption, FixedText(settingsIni, ru, en) + QFileInfo(path).absoluteFilePath() +
                          (detail.isEmpty() ? QString() : u'\n' + detail));
        return false;
    };
    // Only a plain file: a device or a pipe could block or never end.
    if (QFileInfo info(path); info.exists() && !info.isFile())
        return refuse(u"Не удалось открыть файл меток: ", "Cannot open the tag file: ", {});
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(u"Не удалось открыть файл меток: ",
                      "Cannot open the tag file: ", file.errorString());
    // Characters a tag can hold (without a tag size, as many as the longest tag block);
    // four bytes each at most in UTF-8.
    const int chars = 2 * (tagSize > 0 ? tagSize : kMaxRegistersPerRead);
    LineReader reader(file, tagTable.rowCountGrid() - 1, 4 * qsizetype(chars));
    if (!reader.read())
        return refuse(u"Ошибка чтения файла меток: ",
                      "Cannot read the tag file: ", file.errorString());

    QString replaced;
    for (size_t k = 0; k < reader.lines.size(); ++k) {
        const QByteArray &bytes = reader.lines[k];
        const QString line = reader.utf8 ? QString::fromUtf8(bytes) : Cp1251::decode(bytes);
        tagTable.setCell(0, int(k) + 1, TagCellText(FirstCharacters(line, chars), tagSize, &replaced));
    }
    if (!replaced.isEmpty())
        show(caption, CodePageMessage(settingsIni, replaced));
    return true;
}
