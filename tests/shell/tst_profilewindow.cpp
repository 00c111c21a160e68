// The profile page of the main window offscreen, against the simulator: saving, opening and
// loading through the tool buttons, the page buttons and the file dialogs (found by name,
// filled in and accepted as a user would), and writing a profile into a controller.
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "ExpectedFrames.h"
#include "LookupText.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "SensorRows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kCfg12 = QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_2.ini");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString native(const QString &path) { return QDir::toNativeSeparators(path); }

using namespace ExpectedFrames;

// The user side the tests save: sensors 3 and 7, all four relays, the connection column.
const QStringList kSensor3{"123 456", "40", "80", "2", "1", "2"};
const QStringList kSensor7{"007 007", "30", "60", "5", "0", "3"};
QString relayValue(int relay, int col)
{
    const int values[] = {relay % 3, 10 * relay, 20 * relay, 100 * relay};
    return QString::number(values[col - 1]);
}

} // namespace

class TestProfileWindow : public ControllerFolderTest {
    Q_OBJECT

    template <class T = QWidget> static T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }

    // The shipped data files and a simulator on a pty, as a user would set it up.
    void withController(SimProcess &controller, const QStringList &simArgs = {})
    {
        if (!QFile::exists("start.ini"))
            QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(controller, simArgs), qPrintable(controller.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", controller.ptyPath());
        start.writeInteger("connect", "receive", 150);
        QVERIFY(start.updateFile());
    }

    static void showProfilesPage(TForm1 &form)
    {
        child<QTabWidget>(form, "PageControlQOR")->setCurrentWidget(child(form, "TabSheetProfiles"));
        QCoreApplication::processEvents(); // lays the page out, so that clicks land where meant
    }

    // On its box: a check box takes clicks only on the box and its text.
    static void clickCheckBox(QCheckBox *box)
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }

    static void fillUserSide(TForm1 &form)
    {
        MainState &s = form.state();
        QList<bool> ticks(36, false);
        ticks[2] = ticks[6] = true;
        ApplySensorSelection(s.sensorSettingsUser, s.tagUser, ticks, 36, s.Text(Msg::n32));
        for (int c = 1; c <= 6; ++c) {
            s.sensorSettingsUser.setCell(c, 1, kSensor3[c - 1]);
            s.sensorSettingsUser.setCell(c, 2, kSensor7[c - 1]);
        }
        s.tagUser.setCell(0, 1, QStringLiteral("Печь 3"));
        s.tagUser.setCell(0, 2, QStringLiteral("Oven 7"));
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c)
                s.relaySettingsUser.setCell(c, r, relayValue(r, c));
        setConnect(form, "17", 1, 0, 1, "5", 1);
    }

    // Other values everywhere: one other sensor, other relays and connection values.
    static void changeUserSide(TForm1 &form)
    {
        MainState &s = form.state();
        QList<bool> ticks(36, false);
        ticks[0] = true;
        ApplySensorSelection(s.sensorSettingsUser, s.tagUser, ticks, 36, s.Text(Msg::n32));
        for (int c = 1; c <= 6; ++c)
            s.sensorSettingsUser.setCell(c, 1, QStringLiteral("9"));
        s.tagUser.setCell(0, 1, QStringLiteral("other"));
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c)
                s.relaySettingsUser.setCell(c, r, QStringLiteral("0"));
        setConnect(form, "1", 0, 2, 0, "1", 0);
    }

    static void setConnect(TForm1 &form, const char *addr, int baud, int parity, int stops,
                           const char *chan, int language)
    {
        child<QLineEdit>(form, "EditQorAddr")->setText(addr);
        child<QComboBox>(form, "ComboBoxQorBaudRate")->setCurrentIndex(baud);
        child<QComboBox>(form, "ComboBoxQorParity")->setCurrentIndex(parity);
        child<QComboBox>(form, "ComboBoxQorStops")->setCurrentIndex(stops);
        child<QLineEdit>(form, "EditQorChan")->setText(chan);
        child<QComboBox>(form, "ComboBoxQorMenuLanguage")->setCurrentIndex(language);
    }

    // Every cell of the three user grids as the window shows them, and the user column of
    // the connection page.
    static QStringList userSide(TForm1 &form)
    {
        QStringList out;
        for (const char *grid :
             {"StringGridSensorSettingsUser", "StringGridTagUser", "StringGridRelaySettingsUser"}) {
            QAbstractItemModel *m = child<QTableView>(form, grid)->model();
            for (int r = 0; r < m->rowCount(); ++r) {
                QStringList row;
                for (int c = 0; c < m->columnCount(); ++c)
                    row << m->index(r, c).data().toString();
                out << QString::fromLatin1(grid) + ": " + row.join(u'|');
            }
        }
        for (const char *edit : {"EditQorAddr", "EditQorChan"})
            out << child<QLineEdit>(form, edit)->text();
        for (const char *box :
             {"ComboBoxQorBaudRate", "ComboBoxQorParity", "ComboBoxQorStops", "ComboBoxQorMenuLanguage"}) {
            auto *b = child<QComboBox>(form, box);
            out << QStringLiteral("%1 %2").arg(b->currentIndex()).arg(b->currentText());
        }
        return out;
    }

    // Clicks the button, waits for the file dialog it opens, types name and accepts it. The
    // handler moves the working folder as a dialog may; *seenFolder gets where it opened.
    static void chooseInDialog(TForm1 &form, ModalAnswerer &modal, const char *button,
                               const char *dialogName, const QString &name, QString *seenFolder)
    {
        bool done = false;
        modal.onDialog(dialogName, [&](QWidget *d) {
            auto *dialog = static_cast<QFileDialog *>(d);
            *seenFolder = dialog->directory().absolutePath();
            QDir::setCurrent(QDir::tempPath());
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText(name);
            static_cast<QDialog *>(dialog)->accept();
            done = true;
        });
        QTest::mouseClick(child<QAbstractButton>(form, button), Qt::LeftButton);
        QTRY_VERIFY(done);
    }

    // The question about replacing an existing file, answered with Yes or No.
    static void answerOverwrite(ModalAnswerer &modal, bool yes, QString *text)
    {
        modal.onDialog("ProfileOverwriteBox", [=](QWidget *d) {
            auto *box = static_cast<QMessageBox *>(d);
            *text = box->text();
            QTest::mouseClick(box->button(yes ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
        });
    }

private slots:
    void savesAndLoadsThroughTheDialogs()
    {
        withController(sim);
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        MainState &s = form.state();
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        const QString home = QDir::currentPath();
        QVERIFY(QDir().mkdir("profiles"));

        // Showing the page stops the table reads and shows [profile] doid and open.
        QVERIFY(s.pollSensorData);
        showProfilesPage(form);
        QVERIFY(!s.pollSensorData && !s.pollSensorSettings && !s.pollRelaySettings);
        QCOMPARE(child<QLabel>(form, "Label41")->text(), QStringLiteral("Текущий файл профиля"));
        QCOMPARE(child<QPushButton>(form, "ButtonQorChangeProfileFile")->text(), QStringLiteral("..."));
        auto *doid = child<QCheckBox>(form, "CheckBoxQorDoID");
        auto *edit = child<QLineEdit>(form, "EditQorProfileFile");
        QVERIFY(!doid->isChecked());
        QCOMPARE(edit->text(), QString());
        clickCheckBox(doid);
        QCOMPARE(MemIniFile("start.ini").readInteger("profile", "doid", 0), 1);

        // Save: the dialog opens in the working folder; a name without extension gets ".txt";
        // the working folder the dialog moved is put back.
        fillUserSide(form);
        const QStringList saved = userSide(form);
        QString seen;
        chooseInDialog(form, modal, "ToolButtonQorSaveProfile", "SaveDialog1", "profiles/p1", &seen);
        QCOMPARE(seen, home);
        QCOMPARE(QDir::currentPath(), home);
        const QString p1 = native(home + "/profiles/p1.txt");
        QCOMPARE(MemIniFile("start.ini").readString("profile", "save", ""), p1);
        const QByteArray bytes = readAll(p1);
        QVERIFY2(bytes.startsWith("[hardware]\r\nhw=1.0\r\nfw=1.2\r\n\r\n" +
                                  Cp1251::encode(QStringLiteral("[Датчик 3]\r\nID датчика=123 456\r\n"))),
                 bytes.left(80).constData());
        QVERIFY(bytes.contains(Cp1251::encode(QStringLiteral("[tags]\r\nДатчик 3=Печь 3\r\nДатчик 7=Oven 7\r\n\r\n"))));
        QVERIFY(bytes.contains(Cp1251::encode(QStringLiteral("[Реле 4]\r\nРежим=1\r\n"))));
        QVERIFY(bytes.endsWith("[connect]\r\naddress=17\r\nbaudrate=1\r\nparity=0\r\nstopbits=1\r\n"
                               "channel=5\r\nlanguage=1\r\n\r\n"));

        // Open by the tool button: the dialog starts in the working folder ([profile] open is
        // empty yet); the tables and the connection column come back, IDs included.
        changeUserSide(form);
        QVERIFY(userSide(form) != saved);
        chooseInDialog(form, modal, "ToolButtonQorOpenProfile", "OpenDialog1", "profiles/p1.txt", &seen);
        QCOMPARE(seen, home);
        QCOMPARE(QDir::currentPath(), home);
        QCOMPARE(userSide(form), saved);
        QCOMPARE(edit->text(), p1);
        QCOMPARE(MemIniFile("start.ini").readString("profile", "open", ""), p1);

        // The page button loads the file the edit names.
        changeUserSide(form);
        QTest::mouseClick(child<QPushButton>(form, "ButtonQorLoadUserFromProfile"), Qt::LeftButton);
        QCOMPARE(userSide(form), saved);

        // "..." only chooses: it opens in the folder of the current profile and loads nothing.
        changeUserSide(form);
        const QStringList changed = userSide(form);
        QVERIFY(QFile::copy(p1, "profiles/other.txt"));
        chooseInDialog(form, modal, "ButtonQorChangeProfileFile", "OpenDialog1", "other.txt", &seen);
        QCOMPARE(seen, home + "/profiles");
        QCOMPARE(userSide(form), changed);
        const QString other = native(home + "/profiles/other.txt");
        QCOMPARE(edit->text(), other);
        // A typed path is used by the load button but not kept: showing the page resets it.
        edit->setText("typed.txt");
        child<QTabWidget>(form, "PageControlQOR")->setCurrentIndex(0);
        showProfilesPage(form);
        QCOMPARE(edit->text(), other);
        QVERIFY(doid->isChecked());

        // "a" is saved as a.txt, which exists: the question names a.txt. No keeps it; chosen
        // again as "a.txt" it is asked about once more, and Yes replaces it (no a.txt.txt).
        QVERIFY(writeAll("profiles/a.txt", "[hardware]\r\nfw=old\r\n"));
        const QString a = native(home + "/profiles/a.txt");
        QString question;
        answerOverwrite(modal, false, &question);
        chooseInDialog(form, modal, "ToolButtonQorSaveProfile", "SaveDialog1", "a", &seen);
        QCOMPARE(seen, home + "/profiles"); // the folder of the profile saved last
        QTRY_VERIFY(!question.isEmpty());
        QVERIFY2(question.contains(a), qPrintable(question));
        QTest::qWait(50);
        QCOMPARE(readAll(a), QByteArray("[hardware]\r\nfw=old\r\n"));
        QCOMPARE(MemIniFile("start.ini").readString("profile", "save", ""), p1);
        question.clear();
        answerOverwrite(modal, true, &question);
        chooseInDialog(form, modal, "ToolButtonQorSaveProfile", "SaveDialog1", "a.txt", &seen);
        QTRY_VERIFY(readAll(a).startsWith("[hardware]\r\nhw=1.0\r\nfw=1.2\r\n"));
        QVERIFY2(question.contains(a), qPrintable(question));
        QVERIFY(!QFile::exists("profiles/a.txt.txt"));
        QCOMPARE(MemIniFile("start.ini").readString("profile", "save", ""), a);
        // What was written loads back.
        fillUserSide(form);
        edit->setText(a);
        QTest::mouseClick(child<QPushButton>(form, "ButtonQorLoadUserFromProfile"), Qt::LeftButton);
        QCOMPARE(userSide(form), changed);
        QCOMPARE(modal.messages, QStringList());
    }

    // A profile saved in Russian loads under English; one of other firmware, or a missing
    // file, is refused with its message and changes nothing.
    void loadsAcrossLanguagesAndRefusesOtherFirmware()
    {
        withController(sim);
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        MainState &s = form.state();
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        showProfilesPage(form);
        fillUserSide(form);
        QString seen;
        chooseInDialog(form, modal, "ToolButtonQorSaveProfile", "SaveDialog1", "ru", &seen);
        const QString ru = native(QDir::currentPath() + "/ru.txt");
        QVERIFY(QFile::exists(ru));
        QVERIFY(!readAll(ru).contains(Cp1251::encode(QStringLiteral("ID датчика")))); // doid 0

        QByteArray fw11 = readAll(ru);
        fw11.replace("fw=1.2", "fw=1.1");
        QVERIFY(writeAll("fw11.txt", fw11));
        changeUserSide(form);
        const QStringList before = userSide(form);
        auto *edit = child<QLineEdit>(form, "EditQorProfileFile");
        auto *load = child<QPushButton>(form, "ButtonQorLoadUserFromProfile");
        edit->setText("fw11.txt");
        QTest::mouseClick(load, Qt::LeftButton);
        QTRY_COMPARE(modal.messages,
                     QStringList{"Ошибка | Версия прошивки в файле профиля: FW 1.1 не совпадает с "
                                 "файлом конфигурации: FW 1.2. Профиль не будет загружен. "
                                 "Выберите файл профиля для данной версии прошивки."});
        edit->setText("none.txt");
        QTest::mouseClick(load, Qt::LeftButton);
        QTRY_COMPARE(modal.messages.size(), 2);
        QCOMPARE(modal.messages[1], QStringLiteral("Ошибка | Текущий файл профиля не найден!"));
        // A name chosen in the open dialog that names no file: the same message, from the
        // load, never a box of the dialog's own.
        chooseInDialog(form, modal, "ToolButtonQorOpenProfile", "OpenDialog1", "missing.txt", &seen);
        QTRY_COMPARE(modal.messages.size(), 3);
        QCOMPARE(modal.messages[2], QStringLiteral("Ошибка | Текущий файл профиля не найден!"));
        QCOMPARE(edit->text(), native(QDir::currentPath() + "/missing.txt"));
        QCOMPARE(userSide(form), before);
        modal.messages.clear();

        QTest::mouseClick(child<QToolButton>(form, "ToolButtonEngLanguage"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        QCOMPARE(child<QLabel>(form, "Label41")->text(), QStringLiteral("Current profile file"));
        QCOMPARE(child<QCheckBox>(form, "CheckBoxQorDoID")->text(), QStringLiteral("Save sensor IDs in the profile"));
        QCOMPARE(load->text(), QStringLiteral("Load the current profile into the user tables"));
        QCOMPARE(child<QToolButton>(form, "ToolButtonQorOpenProfile")->toolTip(),
                 QStringLiteral("Load settings from a profile file (Ctrl+O)"));
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        QCOMPARE(pages->tabText(pages->indexOf(child(form, "TabSheetProfiles"))), QStringLiteral("Profiles"));
        edit->setText(ru);
        QTest::mouseClick(load, Qt::LeftButton);
        QAbstractItemModel *sensors = child<QTableView>(form, "StringGridSensorSettingsUser")->model();
        QCOMPARE(sensors->rowCount(), 3);
        QCOMPARE(sensors->index(0, 2).data().toString(), QStringLiteral("Threshold 1, °C"));
        QCOMPARE(sensors->index(1, 0).data().toString(), QStringLiteral("Sensor 3"));
        QCOMPARE(sensors->index(2, 0).data().toString(), QStringLiteral("Sensor 7"));
        for (int c = 2; c <= 6; ++c) {
            QCOMPARE(sensors->index(1, c).data().toString(), kSensor3[c - 1]);
            QCOMPARE(sensors->index(2, c).data().toString(), kSensor7[c - 1]);
        }
        QCOMPARE(sensors->index(1, 1).data().toString(), QString()); // saved without IDs
        QAbstractItemModel *tags = child<QTableView>(form, "StringGridTagUser")->model();
        QCOMPARE(tags->index(1, 0).data().toString(), QStringLiteral("Печь 3"));
        QAbstractItemModel *relays = child<QTableView>(form, "StringGridRelaySettingsUser")->model();
        QCOMPARE(relays->index(4, 0).data().toString(), QStringLiteral("Relay 4"));
        QCOMPARE(relays->index(4, 3).data().toString(), relayValue(4, 3));
        QCOMPARE(child<QLineEdit>(form, "EditQorAddr")->text(), QStringLiteral("17"));
        QCOMPARE(child<QComboBox>(form, "ComboBoxQorBaudRate")->currentText(), QStringLiteral("19200"));
        QCOMPARE(child<QComboBox>(form, "ComboBoxQorMenuLanguage")->currentText(), QStringLiteral("English"));
        QCOMPARE(modal.messages, QStringList());
    }

    // A profile saved from one controller, opened in a window on another and written into
    // it by the tool button. Before the other controller's tables were read the button is
    // refused with the pages' message and sends nothing; once they are, it sends the same
    // frames as its three write buttons (the rows and cells that differ from this
    // controller), and the controller holds the profile. Offline the button only stops the
    // table reads.
    void writesAProfileIntoAnotherController()
    {
        withController(sim);
        ModalAnswerer modal;
        modal.password("7593");
        QStringList saved;
        {
            TForm1 form;
            form.show();
            QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
            showProfilesPage(form);
            clickCheckBox(child<QCheckBox>(form, "CheckBoxQorDoID"));
            fillUserSide(form);
            saved = userSide(form);
            QString seen;
            chooseInDialog(form, modal, "ToolButtonQorSaveProfile", "SaveDialog1", "p", &seen);
            QVERIFY(QFile::exists("p.txt"));
        }
        sim.stop();

        SimProcess other;
        withController(other, {"--channel", "9", "--sensors", "20", "--hw", "0x0203"});
        modal.password("7593");
        TForm1 form;
        form.show();
        MainState &s = form.state();
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);
        QCOMPARE(s.hardwareVersionText, QStringLiteral("2.3"));
        QString seen;
        chooseInDialog(form, modal, "ToolButtonQorOpenProfile", "OpenDialog1", "p.txt", &seen);
        QCOMPARE(userSide(form), saved);

        // While it runs (inside a poll step: seen from a timer) the profile loads are locked
        // with the tables they would change.
        int samples = 0, unlocked = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            if (!child(form, "Panel10")->isVisible())
                return;
            ++samples;
            for (const char *name : {"ButtonQorLoadUserFromProfile", "ButtonQorLoadControllerFromProfile",
                                     "ToolButtonQorOpenProfile", "ToolButtonQorLoadProfileToController"})
                unlocked += child(form, name)->isEnabled();
        });
        QVERIFY(s.pollSensorData);
        auto *writeProfile = child<QToolButton>(form, "ToolButtonQorLoadProfileToController");
        QTest::mouseClick(writeProfile, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(modal.messages.size(), 1, 5000);
        QVERIFY(modal.messages[0].contains(QString::fromUtf16(Msg::n133.russian)));
        QVERIFY(!s.AnyWriteRequested());
        QTest::qWait(300);
        QCOMPARE(writes(other), QStringList());
        modal.messages.clear();

        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        pages->setCurrentWidget(child(form, "TabSheetSensorSettings"));
        QTRY_VERIFY_WITH_TIMEOUT(s.sensorSettingsCopyEnabled, 15000);
        pages->setCurrentWidget(child(form, "TabSheetRelaySettings"));
        QTRY_VERIFY_WITH_TIMEOUT(s.RelayCopyRead(), 5000);
        QStringList relayFrames;
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c)
                if (s.relaySettings.cell(c, r) != relayValue(r, c))
                    relayFrames << writeSingle(100, quint16(0x0200 + 16 * (r - 1) + c - 1),
                                               quint16(relayValue(r, c).toUInt()));
        QVERIFY(!relayFrames.isEmpty());
        showProfilesPage(form);
        probe.start(50);
        QTest::mouseClick(writeProfile, Qt::LeftButton);
        QVERIFY(s.writeSensorSettingsRequested && s.writeRelaySettingsRequested &&
                s.writeConnectSettingsRequested);
        QVERIFY(!s.pollSensorData && !s.pollSensorSettings && !s.pollRelaySettings);
        QStringList expected{
            writeMultiple(100, 0x1020, {482, 64, 40, 80, 2, 1, 2}), // 123456 = 482 * 256 + 64
            writeMultiple(100, 0x2010, {0xCFE5, 0xF7FC, 0x2033, 0, 0, 0, 0, 0}), // "Печь 3"
            writeMultiple(100, 0x1060, {27, 95, 30, 60, 5, 0, 3}),                // 7007
            writeMultiple(100, 0x2030, {0x4F76, 0x656E, 0x2037, 0, 0, 0, 0, 0}),  // "Oven 7"
        };
        expected << relayFrames;
        expected << writeMultiple(100, 0x0500, {17, 1, 0, 2, 5, 1});
        QTRY_COMPARE_WITH_TIMEOUT(writes(other).size(), expected.size(), 15000);
        QCOMPARE(writes(other), expected);
        QTRY_VERIFY_WITH_TIMEOUT(!child(form, "Panel10")->isVisible() && !s.writeConnectSettingsRequested,
                                 5000);
        probe.stop();
        QVERIFY(samples > 20);
        QCOMPARE(unlocked, 0);
        QVERIFY(s.lastWriteSucceeded);
        QVERIFY(child(form, "ButtonQorLoadUserFromProfile")->isEnabled());
        QCOMPARE(other.command("line"),
                 QStringLiteral("OK address=17 baud=19200 parity=0 stopbits=2 channel=5 language=1"));
        QCOMPARE(numbers(other.command("get 0x1060 7")), (QList<quint16>{27, 95, 30, 60, 5, 0, 3}));
        QCOMPARE(other.command("get 0x0220 4"), QStringLiteral("OK 0 30 60 300"));
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 0), 17);
        QTRY_VERIFY_WITH_TIMEOUT(s.linkUp, 5000);

        // Offline: nothing is checked, requested or sent; only the reads stop.
        QCOMPARE(other.command("offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.linkUp, 5000);
        s.pollSensorData = s.pollSensorSettings = s.pollRelaySettings = true;
        changeUserSide(form); // none of it goes out
        const qsizetype sent = writes(other).size();
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonQorLoadProfileToController"), Qt::LeftButton);
        QVERIFY(!s.pollSensorData && !s.pollSensorSettings && !s.pollRelaySettings);
        QVERIFY(!s.writeSensorSettingsRequested && !s.writeRelaySettingsRequested &&
                !s.writeConnectSettingsRequested);
        QTest::qWait(200);
        QCOMPARE(writes(other).size(), sent);
        QCOMPARE(modal.messages, QStringList());
    }
};

QTEST_MAIN(TestProfileWindow)
#include "tst_profilewindow.moc"
