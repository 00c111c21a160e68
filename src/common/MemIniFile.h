#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// An INI file held in memory. Sections and keys match without regard to case; a value is
// everything after the first "="; changes stay in memory until updateFile() rewrites the
// whole file (atomically). Windows-1251 on disk; a file that begins with a UTF-8 byte-order
// mark is read and written as UTF-8 and keeps its mark.
//
// Nothing the file holds is lost on a rewrite: every line read (lines above the first
// section, comments, blank lines, lines without "=", repeated sections) is written back
// byte for byte, line breaks included. Only a changed value is written anew, after the
// unchanged "key=" part of its line; new keys and sections use the file's line break.
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
    // Every stored line of a section exactly as it stands, "=" or not (memo texts); blank
    // lines and ";" comments are not stored lines.
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
    // Changes with every change of the content, and no two contents seen by this process
    // share one (a copy keeps its source's): a reader may keep what it read until it moves.
    quint64 revision() const { return m_revision; }
    void setBytes(const QByteArray &bytes);

private:
    struct Line {
        enum class Kind { Blank, Comment, Text, Value };
        Kind kind = Kind::Value;
        QString key;    // Value: the key without surrounding blanks
        QString value;  // Value: everything after the first "="
        QByteArray raw; // the line as read, without its break; empty for a line made here
        QByteArray eol; // "\r\n", "\n", or empty for a last line without a break
        bool edited = false; // the value changed since it was read
    };
    // One "[name]" line of the file and the lines under it. A section named twice in a file
    // is two blocks; reads see them as one section, the first value of a key winning.
    struct Block {
        QString name;
        QByteArray rawHeader; // as read; empty for a section made here
        QByteArray eol;
        QList<Line> lines;
    };
    struct Where {
        qsizetype block;
        qsizetype line;
    };
    struct SectionIndex {
        QList<qsizetype> blocks;
        QHash<QString, Where> keys; // lower-case key -> first occurrence
    };

    const Line *find(const QString &section, const QString &key) const;
    void reindex();
    void reindexSection(const QString &lower);
    QString decode(const QByteArray &bytes) const;
    QByteArray encode(const QString &text) const;
    QString lineText(const Line &line) const;
    QByteArray lineBytes(const Line &line) const;
    Line madeLine(Line::Kind kind, const QString &key, const QString &value) const;
    static qsizetype insertionPoint(const Block &block);

    void changed();

    QString m_fileName;
    quint64 m_revision = 0;
    bool m_utf8 = false;            // the file began with a UTF-8 byte-order mark
    QByteArray m_eol = "\r\n";      // line break of new lines: the file's first one
    QList<Line> m_preamble;         // lines above the first section, kept as they are
    QList<Block> m_blocks;
    QHash<QString, SectionIndex> m_index; // lower-case section name
};
