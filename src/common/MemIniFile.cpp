#include "MemIniFile.h"

#include "Cp1251.h"
#include "IntText.h"

#include <QFile>
#include <QSaveFile>

MemIniFile::MemIniFile(const QString &fileName) : m_fileName(fileName) { reload(); }

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
    m_preamble.clear();
    m_sections.clear();
    m_sectionIndex.clear();
}

void MemIniFile::setBytes(const QByteArray &bytes)
{
    clear();
    const QString text = Cp1251::decode(bytes);
    Section *current = nullptr;
    for (QStringView raw : QStringView(text).split(u'\n')) {
        if (raw.endsWith(u'\r'))
            raw.chop(1);
        const QStringView line = raw.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith(u';')) {
            if (current)
                current->entries.append({raw.toString(), {}, false});
            else
                m_preamble.append(raw.toString());
            continue;
        }
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = &sectionFor(line.mid(1, line.size() - 2).trimmed().toString());
            continue;
        }
        if (!current)
            continue; // a value outside any section cannot be read; dropped like before
        const qsizetype eq = raw.indexOf(u'=');
        if (eq < 0) {
            current->entries.append({raw.toString(), {}, false});
            continue;
        }
        const QString key = raw.left(eq).trimmed().toString();
        current->entries.append({key, raw.mid(eq + 1).toString(), true});
        current->index.insert(key.toLower(), current->entries.size() - 1); // last wins...
    }
    for (Section &s : m_sections)
        reindex(s); // ...until reindex makes the first occurrence win
}

void MemIniFile::reindex(Section &s)
{
    s.index.clear();
    for (qsizetype i = 0; i < s.entries.size(); ++i)
        if (s.entries[i].plain && !s.index.contains(s.entries[i].key.toLower()))
            s.index.insert(s.entries[i].key.toLower(), i);
}

MemIniFile::Section &MemIniFile::sectionFor(const QString &section)
{
    const QString lower = section.toLower();
    auto it = m_sectionIndex.constFind(lower);
    if (it != m_sectionIndex.constEnd())
        return m_sections[*it];
    m_sections.append({section, {}, {}});
    m_sectionIndex.insert(lower, m_sections.size() - 1);
    return m_sections.last();
}

const MemIniFile::Entry *MemIniFile::find(const QString &section, const QString &key) const
{
    const Section *sec = findSection(section);
    if (!sec)
        return nullptr;
    auto e = sec->index.constFind(key.toLower());
    return e == sec->index.constEnd() ? nullptr : &sec->entries[*e];
}

QString MemIniFile::readString(const QString &section, const QString &key,
                               const QString &def) const
{
    const Entry *e = find(section, key);
    return e ? e->value : def;
}

int MemIniFile::readInteger(const QString &section, const QString &key, int def) const
{
    const Entry *e = find(section, key);
    if (!e)
        return def;
    return ParseIntText(e->value).value_or(def);
}

bool MemIniFile::sectionExists(const QString &section) const
{
    return m_sectionIndex.contains(section.toLower());
}

bool MemIniFile::valueExists(const QString &section, const QString &key) const
{
    return find(section, key) != nullptr;
}

QStringList MemIniFile::sections() const
{
    QStringList out;
    for (const Section &s : m_sections)
        out.append(s.name);
    return out;
}

const MemIniFile::Section *MemIniFile::findSection(const QString &section) const
{
    auto s = m_sectionIndex.constFind(section.toLower());
    return s == m_sectionIndex.constEnd() ? nullptr : &m_sections[*s];
}

QStringList MemIniFile::sectionKeys(const QString &section) const
{
    QStringList out;
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (e.plain)
                out.append(e.key);
    return out;
}

QStringList MemIniFile::sectionLines(const QString &section) const
{
    QStringList out;
    if (const Section *s = findSection(section))
        for (const Entry &e : s->entries)
            if (!e.key.trimmed().startsWith(u';'))
                out.append(e.plain ? e.key + u'=' + e.value : e.key);
    return out;
}

void MemIniFile::writeString(const QString &section, const QString &key, const QString &text)
{
    // A line break inside a value would split the file into lines nobody wrote.
    QString value = text;
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    Section &s = sectionFor(section);
    auto e = s.index.constFind(key.toLower());
    if (e != s.index.constEnd()) {
        s.entries[*e].value = value;
        return;
    }
    s.entries.append({key, value, true});
    s.index.insert(key.toLower(), s.entries.size() - 1);
}

void MemIniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void MemIniFile::eraseSection(const QString &section)
{
    auto it = m_sectionIndex.constFind(section.toLower());
    if (it == m_sectionIndex.constEnd())
        return;
    m_sections.removeAt(*it);
    m_sectionIndex.clear();
    for (qsizetype i = 0; i < m_sections.size(); ++i)
        m_sectionIndex.insert(m_sections[i].name.toLower(), i);
}

void MemIniFile::deleteKey(const QString &section, const QString &key)
{
    auto it = m_sectionIndex.constFind(section.toLower());
    if (it == m_sectionIndex.constEnd())
        return;
    Section &s = m_sections[*it];
    const QString lower = key.toLower();
    s.entries.removeIf([&](const Entry &e) { return e.plain && e.key.toLower() == lower; });
    reindex(s);
}

QByteArray MemIniFile::toBytes() const
{
    QString text;
    for (const QString &c : m_preamble)
        text += c + QStringLiteral("\r\n");
    for (qsizetype i = 0; i < m_sections.size(); ++i) {
        if (i > 0 || !m_preamble.isEmpty())
            text += QStringLiteral("\r\n");
        const Section &s = m_sections[i];
        text += u'[' + s.name + QStringLiteral("]\r\n");
        for (const Entry &e : s.entries)
            text += (e.plain ? e.key + u'=' + e.value : e.key) + QStringLiteral("\r\n");
    }
    return Cp1251::encode(text);
}

bool MemIniFile::updateFile(QString *error) const
{
    QSaveFile f(m_fileName);
    if (!f.open(QIODevice::WriteOnly) || f.write(toBytes()) < 0 || !f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}
