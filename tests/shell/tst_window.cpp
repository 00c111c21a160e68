// The main window offscreen, found by object names, clicked and read back.
#include "Conpar.h"
#include "ControllerFolder.h"
#include "DeviceRegisterMap.h"
#include "LookupText.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "SensorDataPage.h"
#include "SensorId.h"
#include "Unitqorselectdlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

class TestWindow : public ControllerFolderTest {
    Q_OBJECT

    static QString panel(QWidget &w, int i)
    {
        return w.findChild<QLabel *>(QStringLiteral("StatusBar1Panel%1").arg(i))->text();
    }
    template <class T = QWidget> static T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }

    // Types text into a widget one character at a time (QTest::keyClicks takes ASCII only);
    // a surrogate pair is one key.
    static void typeText(QWidget *w, const QString &text)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
            i += n - 1;
        }
    }

    // The shipped data files and the simulator on a pty, as a user would set it up.
    void withController(const QStringList &simArgs = {})
    {
        QVERIFY(CopyShippedData(
            {"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini", "Cfg/qor7070__fw_1_1.ini"}));
        QVERIFY2(StartShippedSim(sim, simArgs), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.portSetting());
        QVERIFY(start.updateFile());
    }

private slots:
    void startsWithNoFilesAndReportsThePortOnce()
    {
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QVERIFY(QFile::exists("default.ini"));
        QCOMPARE(QFile("default.ini").size(), 0);
        // Only the trend period the edit was filled with reaches start.ini (7, none stored).
        {
            QFile start("start.ini");
            QVERIFY(start.open(QIODevice::ReadOnly));
            QCOMPARE(start.readAll(), QByteArray("[trends]\r\ntime=7\r\n"));
        }
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Velmaris 150.724"));
        QObject *lamp = child(form, "Shape1");
        QCOMPARE(lamp->property("color").value<QColor>(), QColor(191, 205, 219));
        QCOMPARE(child<QToolButton>(form, "ToolButton1")->toolTip(), QStringLiteral("Настройки связи программы (Ctrl+K)"));
        QVERIFY(!child(form, "ToolButton3")->isEnabled());
        QVERIFY(!child(form, "PageControlQOR")->isVisible());
        QVERIFY(child(form, "Label12")->isHidden());
        QTRY_COMPARE(panel(form, 0), QStringLiteral("Ошибка открытия порта"));
        // Later failures in a row stay silent.
        child<QLabel>(form, "StatusBar1Panel0")->setText("seen");
        QTest::qWait(2300);
        QCOMPARE(panel(form, 0), QStringLiteral("seen"));
        QVERIFY(!form.state().linkUp);
        QVERIFY(modal.messages.isEmpty());
    }

    void closesPromptlyWhileThePollThreadSleeps()
    {
        // A minute between connection attempts: a close that sat it out would outlast the
        // generous deadline below many times over.
        MemIniFile device("default.ini");
        device.writeInteger("measure", "period", 60000);
        QVERIFY(device.updateFile());
        ModalAnswerer modal;
        modal.password(QString());
        auto *form = new TForm1;
        form->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<TForm1> alive(form);
        form->show();
        QTRY_COMPARE(panel(*form, 0), QStringLiteral("Ошибка открытия порта")); // asleep now
        form->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 15000);
    }

    // A silent controller with a long answer time: without the abort the close would sit
    // out three waits of a minute; nothing more may be sent once the window is closing.
    void closesPromptlyWhileAReadWaitsForASilentController()
    {
        withController();
        MemIniFile start("start.ini");
        start.writeInteger("connect", "receive", 60000);
        QVERIFY(start.updateFile());
        ModalAnswerer modal;
        modal.password(QString());
        auto *form = new TForm1;
        form->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<TForm1> alive(form);
        form->show();
        QTRY_VERIFY_WITH_TIMEOUT(form->state().linkUp, 5000);
        const qsizetype answered = sim.logEntries("RX").size();
        QVERIFY(sim.command("offline").startsWith("OK"));
        // The test's own code runs between steps; the close must come from within a
        // step's wait, as a click does: once a request is out that gets no answer.
        qsizetype sent = 0;
        QTimer closer;
        connect(&closer, &QTimer::timeout, form, [&] {
            if (sim.logEntries("RX").size() <= answered || !form->PollStepRunning())
                return;
            closer.stop();
            sent = sim.logEntries("RX").size();
            form->close();
        });
        closer.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 20000);
        QTest::qWait(100);
        QCOMPARE(sim.logEntries("RX").size(), sent);
    }

    void sensorSettingsFillAndCopyIsOfferedAfterAFullPass()
    {
        withController();
        ModalAnswerer modal;
        modal.password("5729");
        TForm1 form;
        form.resize(1400, 900);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QCOMPARE(child(form, "Shape1")->property("color").value<QColor>(), QColor(0, 255, 0));
        QVERIFY(child(form, "ToolButtonQorSaveProfile")->isEnabled());
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        auto *copy = child(form, "ButtonCopySensorSettingsToUser");
        pages->setCurrentWidget(child(form, "TabSheetSensorSettings"));
        QVERIFY(!copy->isEnabled());
        auto *contr = child<QTableView>(form, "StringGridSensorSettings");
        QAbstractItemModel *m = contr->model();
        QCOMPARE(m->rowCount(), 37);
        QCOMPARE(m->columnCount(), 7);
        QCOMPARE(m->index(0, 2).data().toString(), QStringLiteral("Порог 1, °C"));
        QCOMPARE(m->index(5, 0).data().toString(), QStringLiteral("Датчик 5"));
        QTRY_VERIFY_WITH_TIMEOUT(copy->isEnabled(), 10000);
        // Every row was read once before the copy was offered.
        for (int row = 1; row <= 36; ++row)
            QVERIFY2(!m->index(row, 1).data().toString().isEmpty(), qPrintable(QString::number(row)));
        const QStringList id = sim.command("get 4096 2").split(' '); // OK word0 word1
        QCOMPARE(id.size(), 3);
        QCOMPARE(m->index(1, 1).data().toString(), FormatSensorId(id[1].toInt() * 256 + id[2].toInt()));
        QCOMPARE(child<QTableView>(form, "StringGridTagContr")->model()->index(3, 0).data().toString(),
                 QStringLiteral("Камера 3"));
        QCOMPARE(contr->model()->property("topRow").toInt(), 1);

        // The user picks sensors 5 and 3, copies, edits and asks for a write.
        auto *select = &form.selectDlg();
        modal.onDialog("FormQorSelectSensors", [select](QWidget *) {
            select->sensorCheckBoxes[4]->setChecked(true);
            select->sensorCheckBoxes[2]->setChecked(true);
            QTest::mouseClick(select->findChild<QPushButton *>("ButtonConfirmSelection"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>(form, "ButtonSelectSensors"), Qt::LeftButton);
        QAbstractItemModel *user = child<QTableView>(form, "StringGridSensorSettingsUser")->model();
        QTRY_COMPARE(user->rowCount(), 3);
        QCOMPARE(user->index(1, 0).data().toString(), QStringLiteral("Датчик 3"));
        QCOMPARE(user->index(2, 0).data().toString(), QStringLiteral("Датчик 5"));
        // A tag set through the model is cut to 16 characters; typed, it never gets longer.
        auto *tagView = child<QTableView>(form, "StringGridTagUser");
        QAbstractItemModel *tags = tagView->model();
        QVERIFY(tags->setData(tags->index(1, 0), QStringLiteral("Морозильная камера №3"), Qt::EditRole));
        QCOMPARE(tags->index(1, 0).data().toString(), QStringLiteral("Морозильная каме"));
        tagView->setCurrentIndex(tags->index(2, 0)); // the cell editor is always shown
        auto *editor = tagView->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->clear();
        typeText(editor, QStringLiteral("Холодильник номер 5"));
        QCOMPARE(editor->text(), QStringLiteral("Холодильник номе")); // while typing
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(tags->index(2, 0).data().toString(), QStringLiteral("Холодильник номе"));
        // An empty parameter is refused by the check; nothing is requested.
        QTest::mouseClick(child<QPushButton>(form, "ButtonDownloadSensorSettingtsToQor"), Qt::LeftButton);
        QTRY_COMPARE(modal.messages.size(), 1);
        QVERIFY2(modal.messages[0].startsWith("Ошибка | Параметр ID датчика Датчик 3"),
                 qPrintable(modal.messages[0]));
        QVERIFY(!form.state().writeSensorSettingsRequested);
        // The controller copy passes unchanged and raises the request.
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(user->rowCount(), 37);
        QTest::mouseClick(child<QPushButton>(form, "ButtonDownloadSensorSettingtsToQor"), Qt::LeftButton);
        QCOMPARE(modal.messages.size(), 1);
        QVERIFY(form.state().writeSensorSettingsRequested);
    }

    void relayAndConnectionPagesReadTheController()
    {
        withController({"--address", "100", "--channel", "17"});
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        pages->setCurrentWidget(child(form, "TabSheetRelaySettings"));
        QAbstractItemModel *relays = child<QTableView>(form, "StringGridRelaySettings")->model();
        QCOMPARE(relays->rowCount(), 5);
        QCOMPARE(relays->columnCount(), 5);
        QCOMPARE(relays->index(2, 0).data().toString(), QStringLiteral("Реле 2"));
        QTRY_VERIFY_WITH_TIMEOUT(!relays->index(4, 1).data().toString().isEmpty(), 3000);
        pages->setCurrentWidget(child(form, "TabSheetConnectSettings"));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(form, "EditQorChanContr")->text(), QStringLiteral("17"), 3000);
        QCOMPARE(child<QLineEdit>(form, "EditQorAddrContr")->text(), QStringLiteral("100"));
        QCOMPARE(child<QComboBox>(form, "ComboBoxQorBaudRateContr")->currentText(), QStringLiteral("9600"));
        QTest::mouseClick(child<QPushButton>(form, "ButtonQorCopyConnectToUser"), Qt::LeftButton);
        QCOMPARE(child<QLineEdit>(form, "EditQorChan")->text(), QStringLiteral("17"));
        // Text typed into a combo box is no choice, and Enter does not make it an item.
        auto *baud = child<QComboBox>(form, "ComboBoxQorBaudRate");
        baud->lineEdit()->clear();
        QTest::keyClicks(baud->lineEdit(), "12345");
        QTest::keyClick(baud->lineEdit(), Qt::Key_Return);
        QCOMPARE(baud->count(), 5);
        QCOMPARE(baud->currentText(), QStringLiteral("12345"));
        QTest::mouseClick(child<QPushButton>(form, "ButtonWriteConnectSettingsToQor"), Qt::LeftButton);
        QTRY_COMPARE(modal.messages, QStringList{"Ошибка | Параметр связи Скорость не выбран"});
        QVERIFY(!form.state().writeConnectSettingsRequested);
        child<QComboBox>(form, "ComboBoxQorBaudRate")->setCurrentIndex(1);
        QTest::mouseClick(child<QPushButton>(form, "ButtonWriteConnectSettingsToQor"), Qt::LeftButton);
        QVERIFY(form.state().writeConnectSettingsRequested);
    }

    void monitoringOnlyHidesTheUserSide()
    {
        withController();
        ModalAnswerer modal;
        modal.onDialog("Form3", [](QWidget *d) {
            QTest::keyClicks(d->findChild<QLineEdit *>("Edit1"), "7593 "); // a trailing space is wrong
            QMetaObject::invokeMethod(d->findChild<QPushButton *>("ButtonOK"), "click", Qt::QueuedConnection);
        });
        // After the message the dialog is still there: Cancel gives monitoring only.
        modal.onDialog("Form3", [](QWidget *d) {
            QMetaObject::invokeMethod(d->findChild<QPushButton *>("ButtonCancel"), "click", Qt::QueuedConnection);
        });
        TForm1 form;
        form.show();
        QCOMPARE(modal.messages, QStringList{"Ошибка | Неверный пароль"});
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        for (const char *hidden :
             {"GroupBox27", "ButtonCopySensorSettingsToUser", "ButtonSelectSensors",
              "ButtonDownloadSensorSettingtsToQor", "ButtonSetZero", "CheckBoxOverWriteID",
              "ButtonCopyRelaySettingsToUser", "GroupBox28", "ButtonDownloadRelaySettingsToQor",
              "GroupBox25", "ButtonQorCopyConnectToUser", "ButtonWriteConnectSettingsToQor"})
            QVERIFY2(child(form, hidden)->isHidden(), hidden);
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        QVERIFY(!pages->isTabEnabled(pages->indexOf(child(form, "TabSheetProfiles"))));
        // Identification does not give the profile buttons back.
        for (const char *b : {"ToolButtonQorOpenProfile", "ToolButtonQorSaveProfile",
                              "ToolButtonQorLoadProfileToController"})
            QVERIFY2(!child(form, b)->isEnabled(), b);
        QVERIFY(child(form, "ToolButton3")->isEnabled());
        QVERIFY(!child(form, "StringGridSensorSettings")->isHidden());
    }

    // The label beside the lamp says what the lamp shows, in the language in use: grey
    // before the first identification and after a loss, green while the module answers.
    void lampLabelFollowsTheLamp_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("online");
        QTest::addColumn<QString>("offline");
        QTest::newRow("Russian") << 0 << "Модуль на связи" << "Нет связи с модулем";
        QTest::newRow("English") << 1 << "Module on line" << "Module off line";
    }
    void lampLabelFollowsTheLamp()
    {
        QFETCH(int, lang);
        QFETCH(QString, online);
        QFETCH(QString, offline);
        withController();
        {
            MemIniFile start("start.ini");
            start.writeInteger("language", "lang", lang);
            start.writeInteger("connect", "receive", 150);
            QVERIFY(start.updateFile());
        }
        QVERIFY(sim.command("offline").startsWith("OK"));
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QObject *lamp = child(form, "Shape1");
        auto *label = child<QLabel>(form, "Label1");
        const QColor grey(191, 205, 219), green(0, 255, 0);
        QCOMPARE(lamp->property("color").value<QColor>(), grey);
        QCOMPARE(label->text(), offline);

        QVERIFY(sim.command("online").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp->property("color").value<QColor>(), green, 10000);
        QCOMPARE(label->text(), online);

        QVERIFY(sim.command("offline").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp->property("color").value<QColor>(), grey, 10000);
        QCOMPARE(label->text(), offline);

        QVERIFY(sim.command("online").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp->property("color").value<QColor>(), green, 10000);
        QCOMPARE(label->text(), online);
    }

    void englishSwitchRelabelsAndIdentifiesAgain()
    {
        withController();
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QAbstractItemModel *data = child<QTableView>(form, "StringGridSensorsData")->model();
        QCOMPARE(data->index(0, 1).data().toString(), QStringLiteral("Температура, °C"));
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonEngLanguage"), Qt::LeftButton);
        QCOMPARE(MemIniFile("start.ini").readInteger("language", "lang", 0), 1);
        QCOMPARE(data->index(0, 1).data().toString(), QStringLiteral("Temperature, °C"));
        QCOMPARE(child<QTableView>(form, "StringGridQorRelay")->model()->index(0, 0).data().toString(),
                 QStringLiteral("Relay 1"));
        QCOMPARE(child<QTabWidget>(form, "PageControlQOR")->tabText(0), QStringLiteral("Sensor data"));
        QVERIFY(!form.state().linkUp); // the next cycle identifies the controller again
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(data->index(1, 0).data().toString(), QStringLiteral("Sensor 1"), 3000);
        QCOMPARE(panel(form, 0), QStringLiteral("MODULE ON LINE"));
    }

    void connectionDialogChecksAndSavesAllKeys()
    {
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        // Opens the dialog, lets the handler fill it and waits until it has closed.
        auto fill = [&](const QString &adr, const QString &cto1, const QString &port, bool ok) {
            bool done = false;
            modal.onDialog("ConparDlg", [=, &done](QWidget *d) {
                d->findChild<QLineEdit *>("EditAdr")->setText(adr);
                d->findChild<QLineEdit *>("Edit1")->setText(cto1);
                d->findChild<QComboBox *>("ComboBox3")->setCurrentIndex(2); // odd
                d->findChild<QComboBox *>("ComboBox1")->setEditText(port);
                QTest::mouseClick(d->findChild<QPushButton *>(ok ? "OKBtn" : "CancelBtn"), Qt::LeftButton);
                done = true;
            });
            QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
            QTRY_VERIFY(done);
            QVERIFY(!form.conparDlg().isVisible());
        };
        fill("", "10", "/dev/ttyUSB7", true);
        QTRY_COMPARE(modal.messages, QStringList{"Ошибка | Некорректное значение адреса модуля"});
        QVERIFY(!MemIniFile("start.ini").sectionExists("connect"));
        fill("300", "5000", "/dev/ttyUSB7", false); // Cancel
        QVERIFY(!MemIniFile("start.ini").sectionExists("connect"));
        fill("300", "5000", "/dev/ttyUSB7", true);
        MemIniFile saved("start.ini");
        QCOMPARE(saved.sectionKeys("connect").size(), 13);
        QCOMPARE(saved.readString("connect", "adr", ""), QStringLiteral("300"));
        QCOMPARE(saved.readString("connect", "cto1", ""), QStringLiteral("200"));
        QCOMPARE(saved.readString("connect", "parity", ""), QStringLiteral("2"));
        QCOMPARE(saved.readString("connect", "stopbits", ""), QStringLiteral("1"));
        QCOMPARE(saved.readString("connect", "cto5", ""), QStringLiteral("500"));
        QCOMPARE(saved.readString("connect", "port", ""), QStringLiteral("/dev/ttyUSB7"));
        // The close box is a Cancel: the earlier OK is not repeated.
        QFile::remove("start.ini");
        bool closed = false;
        modal.onDialog("ConparDlg", [&closed](QWidget *d) {
            d->close();
            closed = true;
        });
        QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
        QTRY_VERIFY(closed);
        QVERIFY(!QFile::exists("start.ini"));
    }

    void connectionDialogRefusesAPortNameTheFileCannotHold()
    {
        MemIniFile start("start.ini");
        start.writeString("connect", "port", "COM3");
        start.writeString("connect", "adr", "100");
        QVERIFY(start.updateFile());
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        const QByteArray before = [] {
            QFile f("start.ini");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const std::pair<QString, QString> cases[] = {{QStringLiteral("COM😀"), QStringLiteral("😀")},
                                                     {QStringLiteral("端口1"), QStringLiteral("端口")}};
        for (const auto &[port, unfit] : cases) {
            bool done = false;
            modal.onDialog("ConparDlg", [&, port = port, unfit = unfit](QWidget *d) {
                auto *box = d->findChild<QComboBox *>("ComboBox1");
                auto *hint = d->findChild<QLabel *>("LabelPortCharset");
                QVERIFY(hint->isHidden());
                box->lineEdit()->clear();
                typeText(box->lineEdit(), port);
                // Said as it is typed, and Enter does not put it into the list.
                QVERIFY(!hint->isHidden());
                QVERIFY2(hint->text().endsWith(unfit), qPrintable(hint->text()));
                const int items = box->count();
                d->findChild<QLineEdit *>("EditAdr")->setText("42");
                QTest::keyClick(box->lineEdit(), Qt::Key_Return); // the default button: OK
                QCOMPARE(box->count(), items);
                QVERIFY(!d->isVisible());
                done = true;
            });
            QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
            QTRY_VERIFY(done);
            QTRY_COMPARE(modal.messages.size(), 1);
            QVERIFY2(modal.messages[0].startsWith(
                         "Ошибка | В имени порта есть символы, которых нет в кодировке Windows-1251"),
                     qPrintable(modal.messages[0]));
            modal.messages.clear();
            QFile f("start.ini"); // nothing of that OK was saved, the address neither
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), before);
            QVERIFY(!form.state().portSettingsChanged);
        }
    }

    // A Modbus TCP gateway's address typed into the port box passes the checks, is kept in
    // start.ini, shown again, and the window reaches the controller through it.
    void connectionDialogTakesANetworkPort()
    {
        sim.setTransport(SimProcess::Transport::TcpMbap);
        withController();
        const QString gateway = sim.portSetting();
        MemIniFile start("start.ini");
        start.writeString("connect", "port", "/dev/no-such-port");
        QVERIFY(start.updateFile());
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_COMPARE(panel(form, 0), QStringLiteral("Ошибка открытия порта"));
        bool done = false;
        modal.onDialog("ConparDlg", [&](QWidget *d) {
            auto *box = d->findChild<QComboBox *>("ComboBox1");
            box->lineEdit()->clear();
            typeText(box->lineEdit(), gateway);
            QVERIFY(d->findChild<QLabel *>("LabelPortCharset")->isHidden());
            QTest::mouseClick(d->findChild<QPushButton *>("OKBtn"), Qt::LeftButton);
            done = true;
        });
        QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
        QTRY_VERIFY(done);
        QVERIFY(modal.messages.isEmpty());
        QCOMPARE(MemIniFile("start.ini").readString("connect", "port", ""), gateway);
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QVERIFY(!sim.logEntries("MBAPRX").isEmpty());
        bool shown = false;
        modal.onDialog("ConparDlg", [&](QWidget *d) {
            QCOMPARE(d->findChild<QComboBox *>("ComboBox1")->currentText(), gateway);
            QTest::mouseClick(d->findChild<QPushButton *>("CancelBtn"), Qt::LeftButton);
            shown = true;
        });
        QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
        QTRY_VERIFY(shown);
    }

    void wrongPasswordByEnterIsToldOnce()
    {
        ModalAnswerer modal;
        modal.onDialog("Form3", [](QWidget *d) {
            auto *edit = d->findChild<QLineEdit *>("Edit1");
            QTest::keyClicks(edit, "1234");
            QTest::keyClick(edit, Qt::Key_Return);
        });
        // After the message the dialog is still there and takes the right one by Enter too.
        modal.onDialog("Form3", [](QWidget *d) {
            auto *edit = d->findChild<QLineEdit *>("Edit1");
            QCOMPARE(edit->text(), QStringLiteral("1234")); // the entry keeps its text
            edit->clear();
            QTest::keyClicks(edit, "5729");
            QTest::keyClick(edit, Qt::Key_Return);
        });
        TForm1 form;
        form.show();
        QCOMPARE(modal.messages, QStringList{"Ошибка | Неверный пароль"});
        QVERIFY(!child(form, "GroupBox27")->isHidden()); // full access
        QTest::qWait(100); // no second message comes late
        QCOMPARE(modal.messages.size(), 1);
    }

    // A poll step sits in a link wait while the controller is silent; a dialog opened before
    // it and confirmed during it must keep its OK, and must open again at once.
    void connectionDialogOkDuringAPollStepIsKept()
    {
        withController();
        QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        // Steps run inside the event loop this test waits in: between two of its checks
        // none is left running, so the dialog opens between steps.
        QTRY_VERIFY_WITH_TIMEOUT(!sim.logEntries("FAULT").isEmpty(), 5000);
        QVERIFY(!form.PollStepRunning());
        QTimer duringStep;
        bool reopened = false;
        modal.onDialog("ConparDlg", [&](QWidget *d) {
            // OK only once a step runs (and waits for the silent controller) above the dialog.
            QObject::connect(&duringStep, &QTimer::timeout, d, [&, d] {
                if (!form.PollStepRunning())
                    return;
                duringStep.stop();
                d->findChild<QLineEdit *>("EditAdr")->setText("42");
                QTest::mouseClick(d->findChild<QPushButton *>("OKBtn"), Qt::LeftButton);
                QVERIFY(form.state().portSettingsChanged); // before the step ends
                QVERIFY(form.PollStepRunning());
                QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
            });
            duringStep.start(5);
        });
        modal.onDialog("ConparDlg", [&](QWidget *d) {
            reopened = true;
            QCOMPARE(d->findChild<QLineEdit *>("EditAdr")->text(), QStringLiteral("42"));
            QTest::mouseClick(d->findChild<QPushButton *>("CancelBtn"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(reopened, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(MemIniFile("start.ini").readString("connect", "adr", ""),
                                  QStringLiteral("42"), 5000);
        QTRY_VERIFY(!form.conparDlg().isVisible());
        QVERIFY(modal.messages.isEmpty());
    }

    void sensorSelectionOkDuringAPollStepIsKept()
    {
        withController();
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        child<QTabWidget>(form, "PageControlQOR")->setCurrentWidget(child(form, "TabSheetSensorSettings"));
        QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!form.state().linkUp, 5000);
        QVERIFY(!form.PollStepRunning());
        auto *select = &form.selectDlg();
        QTimer duringStep;
        bool reopened = false;
        modal.onDialog("FormQorSelectSensors", [&](QWidget *) {
            QObject::connect(&duringStep, &QTimer::timeout, select, [&] {
                if (!form.PollStepRunning())
                    return;
                duringStep.stop();
                select->sensorCheckBoxes[4]->setChecked(true);
                select->sensorCheckBoxes[2]->setChecked(true);
                QTest::mouseClick(select->findChild<QPushButton *>("ButtonConfirmSelection"),
                                  Qt::LeftButton);
                QVERIFY(form.PollStepRunning());
                QTest::mouseClick(child<QPushButton>(form, "ButtonSelectSensors"), Qt::LeftButton);
            });
            duringStep.start(5);
        });
        modal.onDialog("FormQorSelectSensors", [&](QWidget *) {
            reopened = true;
            // Shown with the ticks of the table as it is now.
            QVERIFY(select->sensorCheckBoxes[2]->isChecked());
            QVERIFY(select->sensorCheckBoxes[4]->isChecked());
            QVERIFY(!select->sensorCheckBoxes[0]->isChecked());
            QTest::mouseClick(select->findChild<QPushButton *>("ButtonCancelSelection"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>(form, "ButtonSelectSensors"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(reopened, 8000);
        QAbstractItemModel *user = child<QTableView>(form, "StringGridSensorSettingsUser")->model();
        QTRY_COMPARE(user->rowCount(), 3);
        QCOMPARE(user->index(1, 0).data().toString(), QStringLiteral("Датчик 3"));
        QCOMPARE(user->index(2, 0).data().toString(), QStringLiteral("Датчик 5"));
        QTRY_VERIFY(!select->isVisible());
    }

    void tagFileDialogLoadsAndKeepsTheWorkingFolder()
    {
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        const QString folder = QDir::currentPath();
        QFile file("tags.txt");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("First\r\nSecond\r\n");
        file.close();
        QAbstractItemModel *tags = child<QTableView>(form, "StringGridTagUser")->model();
        QCOMPARE(tags->rowCount(), 2);
        auto *load = form.findChild<QAction *>("LoadFromFileItem");
        QVERIFY(load);
        // Cancel changes nothing; a dialog that moved the working folder is undone.
        bool done = false;
        modal.onDialog("OpenDialogTags", [&](QWidget *d) {
            QDir::setCurrent(QDir::tempPath());
            static_cast<QDialog *>(d)->reject();
            done = true;
        });
        load->trigger();
        QTRY_VERIFY(done);
        QTRY_COMPARE(QDir::currentPath(), folder);
        QCOMPARE(tags->index(1, 0).data().toString(), QString());
        done = false;
        modal.onDialog("OpenDialogTags", [&](QWidget *d) {
            QDir::setCurrent(QDir::tempPath());
            auto *dialog = static_cast<QFileDialog *>(d);
            QCOMPARE(dialog->directory().absolutePath(), folder); // starts in the working folder
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText("tags.txt");
            static_cast<QDialog *>(dialog)->accept();
            done = true;
        });
        load->trigger();
        QTRY_VERIFY(done);
        QTRY_COMPARE(modal.messages, QStringList());
        QTRY_COMPARE(tags->index(1, 0).data().toString(), QStringLiteral("First"));
        QCOMPARE(QDir::currentPath(), folder);
        QVERIFY(modal.messages.isEmpty());
        // A name that is not there: one message of ours, and no box of the dialog's own,
        // which would run a nested event loop inside the dialog's accept.
        done = false;
        modal.onDialog("OpenDialogTags", [&](QWidget *d) {
            auto *dialog = static_cast<QFileDialog *>(d);
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText("missing.txt");
            static_cast<QDialog *>(dialog)->accept();
            done = true;
        });
        load->trigger();
        QTRY_VERIFY(done);
        QTRY_COMPARE(modal.messages.size(), 1);
        QVERIFY2(modal.messages.first().contains(QDir(folder).filePath("missing.txt")),
                 qPrintable(modal.messages.first()));
        QCOMPARE(tags->index(1, 0).data().toString(), QStringLiteral("First"));
    }

    // Every header cell of a new register map used to lay out every column again.
    void sensorDataGridsAreLaidOutOncePerChange()
    {
        TForm1 form; // not shown: no password, no polling
        MainState &s = form.state();
        MemIniFile cfg(QStringLiteral(VELMARIS_SOURCE_DIR "/data/Cfg/qor7070__fw_1_2.ini"));
        QVERIFY(ParseRegisterMap(cfg, s.registerMap, 0x0102));
        s.registerMap.SENSOR_DATA_SIZE = 300;
        auto *page = form.findChild<SensorDataPage *>("TabSheetSensorData");
        QVERIFY(page);
        const int before = page->layoutPasses();
        s.ShowDeviceViews();
        s.ApplyLanguage();
        QCoreApplication::processEvents();
        QCOMPARE(page->layoutPasses() - before, 1);
        auto *left = child<QTableView>(form, "StringGridSensorsData");
        auto *right = child<QTableView>(form, "StringGridSensorsData2");
        QCOMPARE(left->model()->columnCount(), 301);
        for (int c = 0; c <= 300; ++c) {
            QVERIFY(left->columnWidth(c) >= left->horizontalHeader()->sectionSizeHint(c));
            QCOMPARE(right->columnWidth(c), left->columnWidth(c));
        }
        // A longer text in one cell widens its column in both grids, in one pass.
        const int wide = left->columnWidth(250);
        s.sensorsData2.setCell(250, 1, QString(60, u'W'));
        s.sensorsData.setCell(3, 1, QStringLiteral("1"));
        QCoreApplication::processEvents();
        QCOMPARE(page->layoutPasses() - before, 2);
        QVERIFY(left->columnWidth(250) > wide);
        QCOMPARE(right->columnWidth(250), left->columnWidth(250));
        // A text that fits asks for nothing.
        s.sensorsData.setCell(2, 1, QStringLiteral("2"));
        QCoreApplication::processEvents();
        QCOMPARE(page->layoutPasses() - before, 2);
    }

    // A connection write from its page: Panel10 shows it, the user sides are locked while
    // it runs and come back after; the program follows the controller to its new address.
    void connectionWriteShowsPanel10AndLocksTheUserSides()
    {
        withController();
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        pages->setCurrentWidget(child(form, "TabSheetConnectSettings"));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(form, "EditQorAddrContr")->text(), QStringLiteral("100"), 3000);
        QTest::mouseClick(child<QPushButton>(form, "ButtonQorCopyConnectToUser"), Qt::LeftButton);
        child<QLineEdit>(form, "EditQorAddr")->setText("21");
        child<QComboBox>(form, "ComboBoxQorBaudRate")->setCurrentIndex(2);
        auto *panel10 = child<QLabel>(form, "Panel10");
        const char *locked[] = {"EditQorAddr", "ComboBoxQorStops", "ButtonWriteConnectSettingsToQor",
                                "StringGridSensorSettingsUser", "StringGridTagUser", "ButtonSelectSensors",
                                "StringGridRelaySettingsUser", "ButtonDownloadRelaySettingsToQor",
                                "ToolButtonQorLoadProfileToController"};
        // The write runs inside a poll step: look at the window from a timer in its pauses.
        QStringList shown;
        int samples = 0, unlocked = 0;
        QTimer probe;
        connect(&probe, &QTimer::timeout, this, [&] {
            if (!panel10->isVisible())
                return;
            ++samples;
            if (shown.isEmpty() || shown.last() != panel10->text())
                shown << panel10->text();
            for (const char *name : locked)
                unlocked += child(form, name)->isEnabled();
            unlocked += !child(form, "StringGridSensorSettings")->isEnabled(); // controller side stays
        });
        probe.start(50);
        QTest::mouseClick(child<QPushButton>(form, "ButtonWriteConnectSettingsToQor"), Qt::LeftButton);
        QCOMPARE(form.state().connectUser.addr, QStringLiteral("21"));
        const QStringList expected{form.state().Text(Msg::n113), form.state().Text(Msg::n115)};
        QTRY_COMPARE_WITH_TIMEOUT(shown, expected, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(!panel10->isVisible(), 3000);
        probe.stop();
        QVERIFY(samples > 20); // two seconds of pauses, the window answering through them
        QCOMPARE(unlocked, 0);
        for (const char *name : locked)
            QVERIFY2(child(form, name)->isEnabled(), name);
        // The copy button is offered only after a full read pass, which never ran here.
        QVERIFY(!child(form, "ButtonCopySensorSettingsToUser")->isEnabled());
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "adr", 0), 21);
        QCOMPARE(MemIniFile("start.ini").readInteger("connect", "speed", 0), 2);
        QCOMPARE(sim.command("line").section(' ', 1, 2), QStringLiteral("address=21 baud=38400"));
        QTRY_COMPARE_WITH_TIMEOUT(child<QLineEdit>(form, "EditQorAddrContr")->text(), QStringLiteral("21"), 3000);
        QVERIFY(form.state().linkUp);
        QCOMPARE(modal.messages, QStringList());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
