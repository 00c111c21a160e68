#include "MemIniFile.h"

#include "AtomicFile.h"
#include "Cp1251.h"
#include "IntText.h"

#include <QFile>

#include <atomic>

namespace {

const QByteArray kUtf8Mark("\xEF\xBB\xBF");

} // namespace

MemIniFile::MemIniFile(const QString &fileName) : m_fileName(fileName) { reload(); }

void MemIniFile::changed()
{
    static std::atomic<quint64> last{0};
    m_revision = ++last;
}

void MemIniFile::rename(const QString &fileName, bool reload)
{
    m_fileName = fileName;
    if (reload)
        this->reload();
}

bool MemIniFile::reload()
{
    if (m_fileName.isEmpty()) {
        clear();
        return false;
    }
    QFile f(m_fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        clear();
        return false;
    }
    setBytes(f.readAll());
    return true;
}

void MemIniFile::clear()
{
    changed();
    m_utf8 = false;
    m_eol = "\r\n";
    m_preamble.clear();
    m_blocks.clear();
    m_index.clear();
}

QString MemIniFile::decode(const QByteArray &bytes) const
{
    return m_utf8 ? QString::fromUtf8(bytes) : Cp1251::decode(bytes);
}

QByteArray MemIniFile::encode(const QString &text) const
{
    return m_utf8 ? text.toUtf8() : Cp1251::encode(text);
}

void MemIniFile::setBytes(const QByteArray &bytes)
{
    clear();
    qsizetype pos = 0;
    if (bytes.startsWith(kUtf8Mark)) {
        m_utf8 = true;
        pos = kUtf8Mark.size();
    }
    bool eolSeen = false;
    QList<Line> *lines = &m_preamble;
    while (pos < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', pos);
        const qsizetype end = lf < 0 ? bytes.size() : lf;
        Line line;
        line.raw = bytes.mid(pos, end - pos);
        if (lf >= 0) {
            line.eol = "\n";
            if (line.raw.endsWith('\r')) {
                line.raw.chop(1);
                line.eol = "\r\n";
            }
            if (!eolSeen) {
                m_eol = line.eol;
                eolSeen = true;
            }
        }
        pos = end + 1;

        const QString text = decode(line.raw);
        const QStringView trimmed = QStringView(text).trimmed();
        if (trimmed.isEmpty()) {
            line.kind = Line::Kind::Blank;
        } else if (trimmed.startsWith(u';')) {
            line.kind = Line::Kind::Comment;
        } else if (trimmed.startsWith(u'[') && trimmed.endsWith(u']')) {
            m_blocks.append({trimmed.mid(1, trimmed.size() - 2).trimmed().toString(), line.raw,
                             line.eol, {}});
            lines = &m_blocks.last().lines;
            continue;
        } else if (const qsizetype eq = text.indexOf(u'='); eq >= 0 && lines != &m_preamble) {
            line.kind = Line::Kind::Value;
            line.key = text.left(eq).trimmed();
            line.value = text.mid(eq + 1);
        } else {
            line.kind = Line::Kind::Text; // above every section it cannot be read, only kept
        }
        lines->append(line);
    }
    reindex();
}

void MemIniFile::reindex()
{
    m_index.clear();
    for (qsizetype b = 0; b < m_blocks.size(); ++b)
        m_index[m_blocks[b].name.toLower()].blocks.append(b);
    for (auto it = m_index.begin(); it != m_index.end(); ++it)
        reindexSection(it.key());
}

void MemIniFile::reindexSection(const QString &lower)
{
    SectionIndex &s = m_index[lower];
    s.keys.clear();
    for (qsizetype b : s.blocks) {
        const QList<Line> &lines = m_blocks[b].lines;
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].kind == Line::Kind::Value && !s.keys.contains(lines[i].key.toLower()))
                s.keys.insert(lines[i].key.toLower(), {b, i});
    }
}

const MemIniFile::Line *MemIniFile::find(const QString &section, const QString &key) const
{
    const auto s = m_index.constFind(section.toLower());
    if (s == m_index.constEnd())
        return nullptr;
    const auto w = s->keys.constFind(key.toLower());
    return w == s->keys.constEnd() ? nullptr : &m_blocks[w->block].lines[w->line];
}

QString MemIniFile::readString(const QString &section, const QString &key,
                               const QString &def) const
{
    const Line *l = find(section, key);
    return l ? l->value : def;
}

int MemIniFile::readInteger(const QString &section, const QString &key, int def) const
{
    const Line *l = find(section, key);
    if (!l)
        return def;
    return ParseIntText(l->value).value_or(def);
}

bool MemIniFile::sectionExists(const QString &section) const
{
    return m_index.contains(section.toLower());
}

bool MemIniFile::valueExists(const QString &section, const QString &key) const
{
    return find(section, key) != nullptr;
}

QStringList MemIniFile::sections() const
{
    QStringList out;
    QList<QString> seen;
    for (const Block &b : m_blocks) {
        const QString lower = b.name.toLower();
        if (!seen.contains(lower)) {
            seen.append(lower);
            out.append(b.name);
        }
    }
    return out;
}

QStringList MemIniFile::sectionKeys(const QString &section) const
{
    QStringList out;
    const auto s = m_index.constFind(section.toLower());
    if (s != m_index.constEnd())
        for (qsizetype b : s->blocks)
            for (const Line &l : m_blocks[b].lines)
                if (l.kind == Line::Kind::Value)
                    out.append(l.key);
    return out;
}

QString MemIniFile::lineText(const Line &l) const
{
    if (l.kind != Line::Kind::Value)
        return decode(l.raw);
    if (l.raw.isEmpty())
        return l.key + u'=' + l.value;
    if (!l.edited)
        return decode(l.raw);
    return decode(l.raw.left(l.raw.indexOf('=') + 1)) + l.value;
}

QByteArray MemIniFile::lineBytes(const Line &l) const
{
    if (!l.raw.isEmpty() && !l.edited)
        return l.raw;
    if (l.kind != Line::Kind::Value)
        return {};
    if (l.raw.isEmpty())
        return encode(l.key + u'=' + l.value);
    // The key as the file spelled it, blanks included; only the value is new.
    return l.raw.left(l.raw.indexOf('=') + 1) + encode(l.value);
}

QStringList MemIniFile::sectionLines(const QString &section) const
{
    QStringList out;
    const auto s = m_index.constFind(section.toLower());
    if (s != m_index.constEnd())
        for (qsizetype b : s->blocks)
            for (const Line &l : m_blocks[b].lines)
                if (l.kind == Line::Kind::Value || l.kind == Line::Kind::Text)
                    out.append(lineText(l));
    return out;
}

MemIniFile::Line MemIniFile::madeLine(Line::Kind kind, const QString &key,
                                      const QString &value) const
{
    Line l;
    l.kind = kind;
    l.key = key;
    l.value = value;
    l.eol = m_eol;
    return l;
}

qsizetype MemIniFile::insertionPoint(const Block &block)
{
    // After the section's last value or text line, so that comments and blank lines that
    // lead to the next section stay there; after leading comments when it has none.
    for (qsizetype i = block.lines.size(); i > 0; --i)
        if (block.lines[i - 1].kind == Line::Kind::Value ||
            block.lines[i - 1].kind == Line::Kind::Text)
            return i;
    for (qsizetype i = block.lines.size(); i > 0; --i)
        if (block.lines[i - 1].kind != Line::Kind::Blank)
            return i;
    return 0;
}

void MemIniFile::writeString(const QString &section, const QString &key, const QString &text)
{
    // A line break inside a value would split the file into lines nobody wrote.
    QString value = text;
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    changed();
    const QString lower = section.toLower();
    auto s = m_index.find(lower);
    if (s != m_index.end()) {
        const auto w = s->keys.constFind(key.toLower());
        if (w != s->keys.constEnd()) {
            Line &l = m_blocks[w->block].lines[w->line];
            if (l.value != value) {
                l.value = value;
                l.edited = true;
            }
            return;
        }
        Block &block = m_blocks[s->blocks.first()];
        block.lines.insert(insertionPoint(block), madeLine(Line::Kind::Value, key, value));
        reindexSection(lower);
        return;
    }
    // A new section, set off from what stands above it by a blank line.
    QList<Line> &above = m_blocks.isEmpty() ? m_preamble : m_blocks.last().lines;
    const bool content = !m_blocks.isEmpty() || !m_preamble.isEmpty();
    if (content && (above.isEmpty() || above.last().kind != Line::Kind::Blank))
        above.append(madeLine(Line::Kind::Blank, {}, {}));
    m_blocks.append({section, {}, m_eol, {madeLine(Line::Kind::Value, key, value)}});
    m_index[lower].blocks.append(m_blocks.size() - 1);
    reindexSection(lower);
}

void MemIniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void MemIniFile::eraseSection(const QString &section)
{
    const QString lower = section.toLower();
    if (!m_index.contains(lower))
        return;
    changed();
    m_blocks.removeIf([&](const Block &b) { return b.name.toLower() == lower; });
    reindex();
}

void MemIniFile::deleteKey(const QString &section, const QString &key)
{
    const QString lower = section.toLower();
    const auto s = m_index.constFind(lower);
    if (s == m_index.constEnd())
        return;
    changed();
    const QString keyLower = key.toLower();
    for (qsizetype b : s->blocks)
        m_blocks[b].lines.removeIf([&](const Line &l) {
            return l.kind == Line::Kind::Value && l.key.toLower() == keyLower;
        });
    reindexSection(lower);
}

QByteArray MemIniFile::toBytes() const
{
    QList<std::pair<QByteArray, QByteArray>> out; // line, its break
    for (const Line &l : m_preamble)
        out.append({lineBytes(l), l.eol});
    for (const Block &b : m_blocks) {
        out.append({b.rawHeader.isEmpty() ? encode(u'[' + b.name + u']') : b.rawHeader, b.eol});
        for (const Line &l : b.lines)
            out.append({lineBytes(l), l.eol});
    }
    QByteArray bytes = m_utf8 ? kUtf8Mark : QByteArray();
    for (qsizetype i = 0; i < out.size(); ++i) {
        bytes += out[i].first;
        // A last line that had no break gets one when something now follows it. After a
        // line ending in CR (a file cut between CR and LF) that is CR LF: a lone LF would
        // join the CR into the break and take it from the line's value.
        if (out[i].second.isEmpty() && i + 1 < out.size())
            bytes += out[i].first.endsWith('\r') ? QByteArray("\r\n") : m_eol;
        else
            bytes += out[i].second;
    }
    return bytes;
}

bool MemIniFile::updateFile(QString *error) const
{
    return WriteFileAtomically(m_fileName, toBytes(), error);
}
