// Trend recording from the window, offscreen, against qor7070-sim: the user types a
// period, presses Start, the simulator changes sensor statuses under the recording, and
// the file read back has every value under its own sensor.
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "LookupText.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "TrendReader.h"
#include "TrendRecorder.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace {

QString russian(const TextKey &k)
{
    return QString::fromUtf16(k.russian);
}

// The file's lines, each with its CR LF cut off.
QList<QByteArray> fileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

QByteArray cp1251(const char *utf8)
{
    return Cp1251::encode(QString::fromUtf8(utf8));
}

} // namespace

class TestTrendWindow : public ControllerFolderTest {
    Q_OBJECT

    template <class T = QWidget> static T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }
    static QString panel(QWidget &w, int i)
    {
        return child<QLabel>(w, QStringLiteral("StatusBar1Panel%1").arg(i).toLatin1())->text();
    }
    void command(const QString &line)
    {
        QVERIFY2(sim.command(line).startsWith("OK"), qPrintable(line));
    }
    // Replaces the edit's text as typing does: select all, then the keys.
    static void typeInto(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, text);
    }
    static bool red(QLineEdit *edit)
    {
        return edit->palette().color(QPalette::Base) == QColor(255, 0, 0);
    }

private slots:
    // Sensors 1..12 registered (10, 11, 12 no power, faulty, undetermined); every
    // temperature names its sensor (100 + sensor).
    void recordsEveryValueUnderItsSensor()
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        {
            MemIniFile start("start.ini");
            start.writeString("connect", "port", sim.ptyPath());
            start.writeInteger("connect", "stopbits", 0);
            start.writeInteger("trends", "time", 4);
            QVERIFY(start.updateFile());
        }
        command("freeze");
        for (int s = 1; s <= 36; ++s)
            command(QStringLiteral("set temp %1 %2").arg(s).arg(100 + s));
        command("set tag 2 Печь 2");

        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.resize(1400, 900);
        form.show();
        auto *timer1 = form.findChild<QTimer *>("Timer1");
        QVERIFY(timer1);
        QVERIFY(!timer1->isActive());
        auto *edit = child<QLineEdit>(form, "EditTrendTime");
        auto *group = child<QGroupBox>(form, "GroupBox2");
        auto *panel10 = child<QLabel>(form, "Panel10");
        QCOMPARE(group->title(), QStringLiteral("Запись в файл"));
        QCOMPARE(child<QPushButton>(form, "ButtonStartFile")->text(), QStringLiteral("Старт"));
        QCOMPARE(child<QPushButton>(form, "ButtonStopFile")->text(), QStringLiteral("Стоп"));
        QCOMPARE(edit->text(), QStringLiteral("4"));
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        auto *data = child<QTableView>(form, "StringGridSensorsData")->model();
        QTRY_COMPARE_WITH_TIMEOUT(data->index(1, 1).data().toString(), QStringLiteral("101"), 3000);

        // Link down (interrupted by the user): Start does nothing at all.
        QTest::mouseClick(child<QToolButton>(form, "ToolButton3"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.state().linkUp, 3000);
        QTest::mouseClick(child<QPushButton>(form, "ButtonStartFile"), Qt::LeftButton);
        QTest::qWait(100);
        QVERIFY(!panel10->isVisible());
        QVERIFY(!timer1->isActive());
        QVERIFY(!QFileInfo::exists("Trends"));
        QCOMPARE(panel(form, 1), QString());
        QTest::mouseClick(child<QToolButton>(form, "ToolButton4"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);

        // Refused periods turn the edit red and keep the stored one.
        for (const char *bad : {"0", "-2", "abc", ""}) {
            typeInto(edit, QString::fromLatin1(bad));
            QVERIFY2(red(edit), bad);
            QCOMPARE(MemIniFile("start.ini").readInteger("trends", "time", -1), 4);
        }
        typeInto(edit, "1");
        QVERIFY(!red(edit));
        QCOMPARE(MemIniFile("start.ini").readInteger("trends", "time", -1), 1);

        // Start asks the cycle for the tags and returns at once; the panel says so.
        QTest::mouseClick(child<QPushButton>(form, "ButtonStartFile"), Qt::LeftButton);
        QVERIFY(panel10->isVisible());
        QCOMPARE(panel10->text(), russian(Msg::n127));
        QVERIFY(!timer1->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(timer1->isActive(), 5000);
        QVERIFY(!panel10->isVisible());
        QCOMPARE(timer1->interval(), 1000);
        const QString name = form.findChild<TrendRecorder *>()->trendFileName();
        QCOMPARE(QFileInfo(name).absolutePath(), QDir::current().filePath("Trends"));
        QCOMPARE(panel(form, 1), russian(Msg::n128) + name);
        QCOMPARE(group->toolTip(), russian(Msg::n129) + name);

        // Statuses change under the recording; two more rows in each state.
        auto twoMoreRows = [&] {
            const qsizetype want = fileLines(name).size() + 2;
            QTRY_VERIFY_WITH_TIMEOUT(fileLines(name).size() >= want, 10000);
        };
        twoMoreRows();
        command("set status 5 40"); // gone: its cell stays, empty
        command("set status 20 0"); // registered after the header: not in the file
        twoMoreRows();
        command("set status 3 20");   // faulty
        command("set status 5 auto"); // back
        twoMoreRows();
        // A language switch identifies the controller again; the recording goes on. The
        // click comes within a step's link wait, as a user's click mostly does: the poll
        // thread then sleeps a period before it identifies, and ticks come meanwhile.
        bool switched = false;
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, &form, [&] {
            if (switched || !form.PollStepRunning())
                return;
            switched = true;
            QTest::mouseClick(child<QToolButton>(form, "ToolButtonEngLanguage"), Qt::LeftButton);
        });
        clicker.start(1);
        QTRY_VERIFY(switched);
        clicker.stop();
        QVERIFY(!form.state().linkUp);
        twoMoreRows();
        QVERIFY(timer1->isActive());
        // What the recording shows follows the switch.
        QCOMPARE(panel(form, 1), QStringLiteral("Writing data to the trend file: ") + name);

        QTest::mouseClick(child<QPushButton>(form, "ButtonStopFile"), Qt::LeftButton);
        QVERIFY(!timer1->isActive());
        QCOMPARE(panel(form, 1), QString());
        QCOMPARE(group->toolTip(), QStringLiteral("Trend file: ") + name);
        // A row asked for before Stop is still written, within the next whole poll cycles;
        // after that nothing more comes, however many cycles run.
        const auto cycles = [&](int n) { // n cycles' worth of requests (four a cycle)
            const qsizetype want = sim.logEntries("RX").size() + 4 * n;
            QTRY_VERIFY_WITH_TIMEOUT(sim.logEntries("RX").size() >= want, 20000);
        };
        cycles(2);
        const QList<QByteArray> lines = fileLines(name);
        cycles(3);
        QCOMPARE(fileLines(name).size(), lines.size());

        // The header: sensors 1..12 and their tags.
        QByteArray head1 = cp1251("Дата\tВремя\t"), head2 = head1;
        for (int s = 1; s <= 12; ++s) {
            head1 += cp1251("Канал ") + QByteArray::number(s) + '\t';
            head2 += (s == 2 ? cp1251("Печь 2") : cp1251("Камера ") + QByteArray::number(s)) + '\t';
        }
        QCOMPARE(lines[0], head1);
        QCOMPARE(lines[1], head2);
        // Every row: date, time, one cell per header sensor, each followed by a TAB.
        bool sawGone = false, sawFaulty = false;
        for (qsizetype l = 2; l < lines.size(); ++l) {
            const QList<QByteArray> cells = lines[l].split('\t');
            QCOMPARE(cells.size(), 2 + 12 + 1);
            QVERIFY(cells.last().isEmpty());
            QCOMPARE(cells[11], cp1251("НЕТ ПИТАНИЯ"));
            QCOMPARE(cells[12], cp1251("НЕИСПРАВЕН!!"));
            QCOMPARE(cells[13], cp1251("НЕОПРЕДЕЛЕН"));
            for (int s = 1; s <= 9; ++s) {
                const QByteArray &cell = cells[1 + s];
                if (s == 5 && cell.isEmpty()) {
                    sawGone = true;
                    continue;
                }
                if (s == 3 && cell == cp1251("НЕИСПРАВЕН!!")) {
                    sawFaulty = true;
                    continue;
                }
                QCOMPARE(cell, QByteArray::number(100 + s));
            }
        }
        QVERIFY(sawGone);
        QVERIFY(sawFaulty);
        QVERIFY(lines.last().split('\t')[6] == "105"); // sensor 5 came back
        const auto trend = ReadTrendFile(name);
        QVERIFY(trend);
        QCOMPARE(trend->skippedLines, 0);
        QCOMPARE(trend->times.size(), lines.size() - 2);

        // A new Start gives a new file and leaves the old one; the controller going silent
        // pauses the recording (no rows, panel 1 says why) and it goes on in the same file
        // when the controller answers again. Stop ends it.
        QTest::mouseClick(child<QPushButton>(form, "ButtonStartFile"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(timer1->isActive(), 5000);
        const QString second = form.findChild<TrendRecorder *>()->trendFileName();
        QVERIFY(second != name);
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(second).size() >= 3, 5000);
        QCOMPARE(fileLines(second)[0].split('\t').size(), 2 + 13 + 1); // sensor 20 now too
        command("offline");
        const QString paused = QStringLiteral("Trend recording paused, no link to the module: ");
        QTRY_COMPARE_WITH_TIMEOUT(panel(form, 1), paused + second, 15000);
        QVERIFY(timer1->isActive());
        const qsizetype rowsBefore = fileLines(second).size();
        QSignalSpy ticks(timer1, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 15000);
        QCOMPARE(fileLines(second).size(), rowsBefore);
        QCOMPARE(panel(form, 1), paused + second);
        command("online");
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(second).size() > rowsBefore + 1, 15000);
        QCOMPARE(panel(form, 1), QStringLiteral("Writing data to the trend file: ") + second);
        QCOMPARE(fileLines(second)[0].split('\t').size(), 2 + 13 + 1); // the same header
        QTest::mouseClick(child<QPushButton>(form, "ButtonStopFile"), Qt::LeftButton);
        QVERIFY(!timer1->isActive());
        QCOMPARE(panel(form, 1), QString());
        QCOMPARE(group->toolTip(), QStringLiteral("Trend file: ") + second);
        QCOMPARE(fileLines(name), lines);
    }
};

QTEST_MAIN(TestTrendWindow)
#include "tst_trend_window.moc"
