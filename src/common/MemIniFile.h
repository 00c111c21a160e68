#pragma once
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// An INI file held in memory. Sections and keys match without regard to case; a value is
// everything after the first "="; changes stay in memory until updateFile() rewrites the
// whole file (atomically). Windows-1251 and CR LF on disk; ";" lines are comments, kept
// in place when the file is rewritten.
class MemIniFile {
public:
    explicit MemIniFile(const QString &fileName);

    QString fileName() const { return m_fileName; }
    // Points the object at another file; with reload the memory copy is replaced by it.
    void rename(const QString &fileName, bool reload);
    // Replaces the memory copy by the file's content (empty when it cannot be read).
    bool reload();

    QString readString(const QString &section, const QString &key, const QString &def) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList sections() const;
    QStringList sectionKeys(const QString &section) const;
    // Every stored line of a section as it stands, "=" or not (memo texts).
    QStringList sectionLines(const QString &section) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);
    void clear();

    // Rewrites the file from memory. False, with a reason, when it could not be written;
    // the old file is then left as it was.
    bool updateFile(QString *error = nullptr) const;

    QByteArray toBytes() const;
    void setBytes(const QByteArray &bytes);

private:
    struct Entry {
        QString key;   // for a comment or a line without "=", the whole line
        QString value;
        bool plain = true;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
        QHash<QString, qsizetype> index; // lower-case key -> first entry
    };

    const Section *findSection(const QString &section) const;
    const Entry *find(const QString &section, const QString &key) const;
    Section &sectionFor(const QString &section);
    void reindex(Section &s);

    QString m_fileName;
    QStringList m_preamble; // comment lines before the first section
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex;
};
