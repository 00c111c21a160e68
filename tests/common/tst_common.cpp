#include "Cp1251.h"
#include "IntText.h"
#include "LookupText.h"
#include "MemIniFile.h"
#include "ShippedData.h"
#include "TextGrid.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

class TestCommon : public QObject {
    Q_OBJECT
private slots:
    void codecRoundTripsEveryByte()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        const QString text = Cp1251::decode(all);
        QCOMPARE(text.size(), 256);
        bool lossless = false;
        QCOMPARE(Cp1251::encode(text, &lossless), all);
        QVERIFY(lossless);
        QCOMPARE(Cp1251::decode(QByteArray("\xc4\xe0\xf2\xf7\xe8\xea \xb9\xa8\xb8")),
                 QStringLiteral("Датчик №Ёё"));
    }

    void codecReplacesWhatItCannotHold()
    {
        bool lossless = true;
        QCOMPARE(Cp1251::encode(QStringLiteral("a€漢b"), &lossless), QByteArray("a\x88?b"));
        QVERIFY(!lossless);
        QVERIFY(!Cp1251::canEncode(QStringLiteral("😀")));
        QVERIFY(Cp1251::canEncode(QStringLiteral("Реле 1 – «ok»")));
    }

    void intText()
    {
        QCOMPARE(ParseIntText(" 42 "), std::optional<int>(42));
        QCOMPARE(ParseIntText("-5"), std::optional<int>(-5));
        QCOMPARE(ParseIntText("$1A"), std::optional<int>(26));
        QCOMPARE(ParseIntText("0x30"), std::optional<int>(48));
        QCOMPARE(ParseIntText("2147483647"), std::optional<int>(2147483647));
        QCOMPARE(ParseIntText("-2147483648"), std::optional<int>(-2147483647 - 1));
        for (const char *bad : {"", " ", "12a", "2147483648", "1 2", "0x", "$", "-", "１"})
            QVERIFY2(!ParseIntText(QString::fromUtf8(bad)), bad);
        QCOMPARE(ParseHexPrefix(" 30"), std::optional<quint32>(0x30));
        QCOMPARE(ParseHexPrefix("0x1F zz"), std::optional<quint32>(0x1F));
        QCOMPARE(ParseHexPrefix("12g4"), std::optional<quint32>(0x12));
        QVERIFY(!ParseHexPrefix("zz"));
        QVERIFY(!ParseHexPrefix("0x"));
    }

    void iniReadsLikeTheFilesAlwaysDid()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("start.ini");
        writeAll(path, "; comment\r\n[Connect]\r\nADR=200\r\nport = COM3\r\n; x=1\r\n"
                       "[lang1]\r\nn83=Parameter \r\nn99=a=b=c\r\nn1=first\r\nn1=second\r\n"
                       "[lang0]\r\nn32=\xc4\xe0\xf2\xf7\xe8\xea\r\njunk line\r\n");
        MemIniFile ini(path);
        QCOMPARE(ini.readInteger("connect", "adr", 100), 200);
        QCOMPARE(ini.readString("CONNECT", "Port", ""), QStringLiteral(" COM3"));
        QCOMPARE(ini.readString("connect", "x", "none"), QStringLiteral("none"));
        QCOMPARE(ini.readString("lang1", "n83", ""), QStringLiteral("Parameter "));
        QCOMPARE(ini.readString("lang1", "n99", ""), QStringLiteral("a=b=c"));
        QCOMPARE(ini.readString("lang1", "n1", ""), QStringLiteral("first"));
        QCOMPARE(ini.readString("lang0", "n32", ""), QStringLiteral("Датчик"));
        QCOMPARE(ini.readInteger("missing", "key", 7), 7);
        QCOMPARE(ini.readInteger("lang1", "n83", -1), -1); // not a number: the default
    }

    void iniRewritesWholeFileAtomicallyAndKeepsComments()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("start.ini");
        writeAll(path, "; top\n[connect]\nadr=1\n; keep me\n");
        MemIniFile ini(path);
        ini.writeString("Connect", "ADR", "5");
        ini.writeString("connect", "port", "line\r\nbreak");
        ini.writeString("lang0", "n32", QStringLiteral("Датчик"));
        QCOMPARE(readAll(path), QByteArray("; top\n[connect]\nadr=1\n; keep me\n")); // memory only
        QVERIFY(ini.updateFile());
        // The file's own line breaks; a new key goes after the section's last value.
        QCOMPARE(readAll(path), QByteArray("; top\n[connect]\nadr=5\nport=line  break\n; keep me\n"
                                           "\n[lang0]\nn32=\xc4\xe0\xf2\xf7\xe8\xea\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"start.ini"});
        MemIniFile again(path);
        QCOMPARE(again.readString("connect", "port", ""), QStringLiteral("line  break"));
    }

    void iniRewriteLosesNothing()
    {
        // Whatever a file holds comes back byte for byte: lines above the first section
        // (values too), blank lines, mixed line breaks, a repeated section, bytes of any
        // value, memo lines with blanks around "=", no break after the last line.
        QTemporaryDir dir;
        const QString path = dir.filePath("start.ini");
        const QByteArray original("top=1\r\n; note\n\n  [connect] \r\nport = COM3\r\n\r\n"
                                  "[Memo2_lang0]\r\n  Line one = with blanks\r\n\tsecond =x\r\n"
                                  "plain text\r\n; comment\r\n[connect]\r\nadr=7\r\nport=COM9\r\n"
                                  "[odd]\r\nk=\x98\x01\xff\r\n\r\n\r\nlast=1");
        writeAll(path, original);
        MemIniFile ini(path);
        QVERIFY(ini.updateFile());
        QCOMPARE(readAll(path), original);

        QCOMPARE(ini.readString("connect", "port", ""), QStringLiteral(" COM3")); // first wins
        QCOMPARE(ini.readInteger("connect", "adr", 0), 7);
        QCOMPARE(ini.readString("", "top", "none"), QStringLiteral("none"));
        QCOMPARE(ini.sections(), (QStringList{"connect", "Memo2_lang0", "odd"}));
        QCOMPARE(ini.sectionLines("memo2_LANG0"),
                 (QStringList{"  Line one = with blanks", "\tsecond =x", "plain text"}));

        // A change rewrites only its own line; the key keeps its spelling.
        ini.writeString("connect", "port", "COM4");
        ini.writeString("odd", "new", "v");
        ini.writeString("added", "a", "b");
        QVERIFY(ini.updateFile());
        QByteArray expected = original;
        expected.replace("port = COM3", "port =COM4");
        expected.replace("last=1", "last=1\r\nnew=v\r\n\r\n[added]\r\na=b\r\n");
        QCOMPARE(readAll(path), expected);
        MemIniFile again(path);
        QCOMPARE(again.readString("odd", "new", ""), QStringLiteral("v"));
        QCOMPARE(again.readString("odd", "last", ""), QStringLiteral("1"));
        QCOMPARE(again.sectionLines("Memo2_lang0"), ini.sectionLines("Memo2_lang0"));
    }

    void iniLastLineEndingInCarriageReturnKeepsItsValue()
    {
        // Found by fuzz_ini: the last line of a file cut between CR and LF has no break; a
        // key added after it must not turn its CR into half of a CR LF.
        MemIniFile ini{QString()};
        ini.setBytes("[s]\nk=v\r");
        QCOMPARE(ini.readString("s", "k", ""), QStringLiteral("v\r"));
        ini.writeString("t", "a", "b");
        MemIniFile again{QString()};
        again.setBytes(ini.toBytes());
        QCOMPARE(again.readString("s", "k", ""), QStringLiteral("v\r"));
        QCOMPARE(again.readString("t", "a", ""), QStringLiteral("b"));
        QCOMPARE(again.toBytes(), ini.toBytes());
    }

    void iniWithByteOrderMark()
    {
        // A file saved as UTF-8 with a byte-order mark: its first section is read, and a
        // rewrite keeps the mark, the encoding and every unchanged byte.
        QTemporaryDir dir;
        const QString path = dir.filePath("start.ini");
        const QByteArray original("\xEF\xBB\xBF[connect]\r\nport=/dev/ttyUSB0\r\nadr=17\r\n"
                                  "\r\n[lang0]\r\nn32=\xD0\x94\xD0\xB0\xD1\x82\xD1\x87\xD0\xB8\xD0\xBA\r\n");
        writeAll(path, original);
        MemIniFile ini(path);
        QCOMPARE(ini.readString("connect", "port", ""), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(ini.readInteger("connect", "adr", 100), 17);
        QCOMPARE(ini.readString("lang0", "n32", ""), QStringLiteral("Датчик"));
        QVERIFY(ini.updateFile());
        QCOMPARE(readAll(path), original);
        ini.writeInteger("language", "lang", 1);
        ini.writeString("lang0", "n33", QStringLiteral("Реле"));
        QVERIFY(ini.updateFile());
        QCOMPARE(readAll(path),
                 QByteArray("\xEF\xBB\xBF[connect]\r\nport=/dev/ttyUSB0\r\nadr=17\r\n\r\n[lang0]\r\n"
                            "n32=\xD0\x94\xD0\xB0\xD1\x82\xD1\x87\xD0\xB8\xD0\xBA\r\n"
                            "n33=\xD0\xA0\xD0\xB5\xD0\xBB\xD0\xB5\r\n\r\n[language]\r\nlang=1\r\n"));

        // A mark alone, or a mark and one line without a break.
        writeAll(path, "\xEF\xBB\xBF");
        ini.reload();
        QVERIFY(ini.sections().isEmpty());
        writeAll(path, "\xEF\xBB\xBF[measure]\nperiod=250");
        ini.reload();
        QCOMPARE(ini.readInteger("measure", "period", 1000), 250);
        QVERIFY(ini.updateFile());
        QCOMPARE(readAll(path), QByteArray("\xEF\xBB\xBF[measure]\nperiod=250"));
    }

    void iniMissingFileAndFailedWrite()
    {
        QTemporaryDir dir;
        MemIniFile ini(dir.filePath("none.ini"));
        QVERIFY(ini.sections().isEmpty());
        QVERIFY(ini.updateFile());
        QCOMPARE(readAll(dir.filePath("none.ini")), QByteArray());
        MemIniFile bad(dir.filePath("no/such/folder/x.ini"));
        bad.writeInteger("a", "b", 1);
        QString reason;
        QVERIFY(!bad.updateFile(&reason));
        QVERIFY(!reason.isEmpty());
    }

    // A write cut short (a full disk; here a file-size limit) is a failure, and the old file
    // stays as it was. A buffered save file once took such a write for a success.
    void iniShortWriteIsAFailure()
    {
#ifndef Q_OS_UNIX
        QSKIP("needs a file-size limit to make the write fail");
#else
        QTemporaryDir dir;
        const QString path = dir.filePath("start.ini");
        writeAll(path, "[connect]\r\nadr=100\r\n");
        MemIniFile ini(path);
        ini.writeString("lang1", "n73", QString(1000, u'x')); // beyond the limit, within a buffer

        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        QString reason;
        const bool ok = ini.updateFile(&reason);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QVERIFY(!reason.isEmpty());
        QCOMPARE(readAll(path), QByteArray("[connect]\r\nadr=100\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"start.ini"});
        QVERIFY(ini.updateFile(&reason));
        QCOMPARE(MemIniFile(path).readString("lang1", "n73", ""), QString(1000, u'x'));
#endif
    }

    void iniEraseAndDelete()
    {
        MemIniFile ini(QString{});
        ini.writeString("a", "k", "1");
        ini.writeString("b", "k", "2");
        ini.writeString("c", "k", "3");
        ini.eraseSection("B");
        QCOMPARE(ini.sections(), (QStringList{"a", "c"}));
        QCOMPARE(ini.readString("c", "k", ""), QStringLiteral("3"));
        ini.deleteKey("A", "K");
        QVERIFY(!ini.valueExists("a", "k"));
    }

    // A reader keeps what it read while the revision stands (the master's [connect]
    // values): every change must move it, and no other content may ever carry it.
    void iniRevisionMovesWithEveryChange_data()
    {
        QTest::addColumn<int>("change");
        QTest::newRow("value changed") << 0;
        QTest::newRow("key added") << 1;
        QTest::newRow("section added") << 2;
        QTest::newRow("key deleted") << 3;
        QTest::newRow("section erased") << 4;
        QTest::newRow("cleared") << 5;
        QTest::newRow("bytes set") << 6;
        QTest::newRow("reloaded") << 7;
    }
    void iniRevisionMovesWithEveryChange()
    {
        QFETCH(int, change);
        QTemporaryDir dir;
        const QString path = dir.filePath("x.ini");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[connect]\r\nadr=100\r\nreceive=500\r\n");
        f.close();
        MemIniFile ini(path);
        const MemIniFile copy = ini;
        const quint64 before = ini.revision();
        QVERIFY(before != 0);
        QCOMPARE(copy.revision(), before); // the same content
        ini.readInteger("connect", "adr", 0); // reading changes nothing
        QCOMPARE(ini.revision(), before);
        switch (change) {
        case 0: ini.writeInteger("connect", "adr", 7); break;
        case 1: ini.writeInteger("connect", "send", 20); break;
        case 2: ini.writeInteger("measure", "period", 1); break;
        case 3: ini.deleteKey("connect", "receive"); break;
        case 4: ini.eraseSection("connect"); break;
        case 5: ini.clear(); break;
        case 6: ini.setBytes("[connect]\r\nadr=100\r\n"); break;
        case 7: QVERIFY(ini.reload()); break;
        }
        QVERIFY(ini.revision() != before);
        QCOMPARE(copy.revision(), before);
        MemIniFile other(path); // another object's content never takes a revision seen
        QVERIFY(other.revision() != before && other.revision() != ini.revision());
    }

    void lookupFollowsTheLanguageSection()
    {
        MemIniFile ini(QString{});
        QCOMPARE(LookupText(ini, Msg::n87), QStringLiteral("Ошибка открытия порта"));
        ini.writeInteger("language", "lang", 1);
        QCOMPARE(LookupText(ini, Msg::n87), QStringLiteral("Ошибка открытия порта"));
        ini.writeString("lang1", "N87", "Port open failed ");
        QCOMPARE(LookupText(ini, Msg::n87), QStringLiteral("Port open failed "));
        ini.writeInteger("language", "lang", 5);
        QCOMPARE(LookupText(ini, Msg::n87), QStringLiteral("Ошибка открытия порта"));
        ini.writeInteger("language", "lang", 0);
        ini.writeString("lang0", "n87", "Другой текст");
        QCOMPARE(LookupText(ini, Msg::n87), QStringLiteral("Другой текст"));
        QCOMPARE(LookupText(ini, "n12", "Not found"), QStringLiteral("Not found"));
        // Every message key is distinct and carries a default.
        QSet<QString> keys;
        for (const TextKey &k : Msg::all) {
            QVERIFY(!keys.contains(k.key));
            keys.insert(k.key);
            QVERIFY(!QString::fromUtf16(k.russian).isEmpty());
        }
    }

    void gridRowsMoveAndEditsGoThroughTheRule()
    {
        TextGrid g(3, 3);
        g.setCell(1, 1, "a");
        g.setCell(1, 2, "b");
        g.insertRowAt(2);
        QCOMPARE(g.rowCountGrid(), 4);
        QCOMPARE(g.cell(1, 3), QStringLiteral("b"));
        QCOMPARE(g.cell(1, 2), QString());
        g.deleteRowAt(1);
        QCOMPARE(g.cell(1, 2), QStringLiteral("b"));
        QCOMPARE(g.cell(7, 7), QString()); // outside: empty, no crash
        g.setCell(9, 9, "x");
        // As a model: index(row, col) is cell (col, row); header cells are read-only.
        QCOMPARE(g.data(g.index(2, 1)).toString(), QStringLiteral("b"));
        g.setEditable(true);
        QVERIFY(!g.setData(g.index(0, 1), "hdr"));
        g.setCellEditor([](TextGrid &grid, int col, int row, const QString &text) {
            grid.setCell(col, row, text.left(2));
            return true;
        });
        QVERIFY(g.setData(g.index(1, 2), "long"));
        QCOMPARE(g.cell(2, 1), QStringLiteral("lo"));
    }

    // --workdir: a new folder gets the shipped files; a folder in use keeps every file of
    // the user's, also when only start.ini is missing.
    void workingFolderIsSeededButNeverOverwritten()
    {
        const QString shipped = ShippedDataDir();
        QVERIFY(QFileInfo::exists(shipped + "/Cfg/qor7070__fw_1_2.ini"));
        const QString previous = QDir::currentPath();
        QTemporaryDir tmp;
        QString error;

        const QString fresh = tmp.filePath("a/b");
        QVERIFY2(EnterWorkingFolder(fresh, &error), qPrintable(error));
        QCOMPARE(QDir::currentPath(), QDir(fresh).canonicalPath());
        QCOMPARE(readAll("start.ini"), readAll(shipped + "/start.ini"));
        QCOMPARE(readAll("default.ini"), readAll(shipped + "/default.ini"));
        QCOMPARE(QDir("Cfg").entryList(QDir::Files), QDir(shipped + "/Cfg").entryList(QDir::Files));
        QVERIFY(QFileInfo("start.ini").isWritable());

        const QString used = tmp.filePath("used");
        QDir().mkpath(used + "/Cfg");
        writeAll(used + "/default.ini", "[mine]\r\n");
        writeAll(used + "/Cfg/qor7070__fw_1_2.ini", "edited");
        QVERIFY2(EnterWorkingFolder(used, &error), qPrintable(error));
        QCOMPARE(readAll(used + "/default.ini"), QByteArray("[mine]\r\n"));
        QCOMPARE(readAll(used + "/Cfg/qor7070__fw_1_2.ini"), QByteArray("edited"));
        QCOMPARE(readAll(used + "/start.ini"), readAll(shipped + "/start.ini"));
        QVERIFY(QFileInfo::exists(used + "/Cfg/qor7070__fw_1_0.ini"));

        writeAll(used + "/start.ini", "[connect]\r\nport=COM7\r\n");
        QVERIFY(EnterWorkingFolder(used, &error));
        QCOMPARE(readAll(used + "/start.ini"), QByteArray("[connect]\r\nport=COM7\r\n"));

        writeAll(tmp.filePath("plain"), "a file, not a folder");
        QVERIFY(!EnterWorkingFolder(tmp.filePath("plain"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir::setCurrent(previous));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
