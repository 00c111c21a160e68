// An INI file parsed, changed, rewritten and parsed again. Every value readable before is
// readable after with the same text; an untouched file is written back byte for byte; a
// second rewrite is identical to the first.
#include "FuzzInput.h"
#include "MemIniFile.h"

namespace {

// A name or value the program could write: printable, no line break, no "=" in a key.
QString word(FuzzInput &in, bool isKey) {
    static const char keyChars[] = "abcXYZ019_-. ";
    QString out;
    const int n = in.byte() % 8;
    for (int i = 0; i < n; ++i) {
        const uint8_t b = in.byte();
        if (isKey)
            out += QChar(keyChars[b % (sizeof keyChars - 1)]);
        else if (b % 5 == 0)
            out += QChar(0x0410 + b % 64); // Cyrillic, which Windows-1251 holds
        else
            out += QChar(0x20 + b % 0x5F);
    }
    return isKey ? out.trimmed() : out;
}

using Snapshot = QList<QPair<QString, QList<QPair<QString, QString>>>>;

Snapshot values(const MemIniFile &ini) {
    Snapshot out;
    for (const QString &s : ini.sections()) {
        QList<QPair<QString, QString>> keys;
        for (const QString &k : ini.sectionKeys(s))
            keys.append({k, ini.readString(s, k, QStringLiteral("\x01missing"))});
        out.append({s, keys});
    }
    return out;
}

void checkReadable(const Snapshot &before, const MemIniFile &after) {
    for (const auto &[section, keys] : before)
        for (const auto &[key, value] : keys)
            FUZZ_CHECK(after.readString(section, key, QStringLiteral("\x01missing")) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput in(data, size);
    const int edits = in.byte() % 4;
    QList<QStringList> changes;
    for (int i = 0; i < edits; ++i) {
        const uint8_t op = in.byte();
        changes.append({QString::number(op % 3), word(in, true), word(in, true), word(in, false)});
    }
    const QByteArray file = in.rest();

    MemIniFile first{QString()};
    first.setBytes(file);
    const Snapshot read = values(first);
    FUZZ_CHECK(first.toBytes() == file); // nothing is lost on a rewrite

    for (const QStringList &c : changes) {
        if (c[0] == u'0' && !c[1].isEmpty() && !c[2].isEmpty())
            first.writeString(c[1], c[2], c[3]);
        else if (c[0] == u'1')
            first.deleteKey(c[1], c[2]);
        else if (c[0] == u'2')
            first.eraseSection(c[1]);
    }
    const Snapshot changed = values(first);
    const QByteArray rewrite = first.toBytes();

    MemIniFile second{QString()};
    second.setBytes(rewrite);
    checkReadable(changed, second);
    FUZZ_CHECK(values(second).size() == changed.size());
    FUZZ_CHECK(second.toBytes() == rewrite);
    if (changes.isEmpty())
        checkReadable(read, second);
    return 0;
}
