// The plant view and its controller windows offscreen against simulated controllers found by
// the names of their widgets; the plant dialog writing plant.ini.
#include "ControllerFolder.h"
#include "ExpectedFrames.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "Plant.h"
#include "PlantConfig.h"
#include "PlantDialog.h"
#include "PlantViewTexts.h"
#include "PlantView.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

namespace {

const QColor kLime(0, 255, 0);
const QColor kGrey(191, 205, 219);

QString russian(const TextKey &k) { return QString::fromUtf16(k.russian); }

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "7: 4358" in the hottest column: the sensor and its temperature.
std::pair<int, int> hottestOf(const QString &cell)
{
    const QStringList parts = cell.split(QStringLiteral(": "));
    return parts.size() == 2 ? std::pair{parts[0].toInt(), parts[1].toInt()} : std::pair{0, 0};
}

// The write requests (functions 6 and 16) the simulator received, as hex frames.
QStringList writesIn(const SimProcess &sim)
{
    QStringList out;
    for (const QString &line : sim.logEntries("RX")) {
        const QStringList bytes = line.trimmed().split(u' ', Qt::SkipEmptyParts);
        if (bytes.size() > 2 && (bytes[1] == "10" || bytes[1] == "06"))
            out << bytes.join(u' ').toUpper();
    }
    return out;
}

} // namespace

class TestPlantView : public ControllerFolderTest {
    Q_OBJECT

    // Where a controller of the plant is simulated: its simulator and its index there (what
    // its named values carry).
    struct Simulated {
        SimProcess *sim;
        int address;
        int index;
    };
    SimProcess tcpSim{SimProcess::Transport::TcpRtu};
    SimProcess mbtcpSim{SimProcess::Transport::TcpMbap};
    std::vector<Simulated> where;

    // Four controllers: on one pty line (101..104), or two on the pty, one behind RTU over
    // TCP and one behind Modbus TCP. Every value names its register and its controller.
    PlantConfig setUpPlant(bool mixed, QStringList extra = {}, bool namedValues = true)
    {
        where.clear();
        [&] {
            QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini",
                                     "Cfg/qor7070__fw_1_1.ini"}));
        }();
        const QStringList named = namedValues ? QStringList{"--named-values"} : QStringList();
        PlantConfig plant;
        auto add = [&](SimProcess &s, int address, int index, const QString &name) {
            PlantEntry e;
            e.name = name;
            e.port = s.portSetting();
            e.address = address;
            plant.controllers.push_back(e);
            where.push_back({&s, address, index});
        };
        if (!mixed) {
            if (!StartShippedSim(sim, named + extra + QStringList{"--address", "101", "--controllers", "4"})) {
                qWarning("%s", qPrintable(sim.errorText()));
                return {};
            }
            for (int k = 0; k < 4; ++k)
                add(sim, 101 + k, k, QStringLiteral("Камера %1").arg(k + 1));
        } else {
            if (!StartShippedSim(sim, named + extra + QStringList{"--address", "101", "--address", "102"}) ||
                !StartShippedSim(tcpSim, named + QStringList{"--address", "7"}) ||
                !StartShippedSim(mbtcpSim, named + QStringList{"--address", "9"}))
                return {};
            add(sim, 101, 0, QStringLiteral("Линия 1"));
            add(sim, 102, 1, QStringLiteral("Линия 2"));
            add(tcpSim, 7, 0, QStringLiteral("Шлюз RTU"));
            add(mbtcpSim, 9, 0, QStringLiteral("Шлюз Modbus TCP"));
        }
        QString error;
        if (!WritePlant(kPlantFileName, plant, error))
            qWarning("%s", qPrintable(error));
        return plant;
    }

    static QTableWidgetItem *cell(PlantView &v, int row, int col)
    {
        QTableWidgetItem *item = v.table().item(row, col);
        static QTableWidgetItem none;
        return item ? item : &none;
    }
    static QColor lamp(PlantView &v, int row)
    {
        return cell(v, row, PlantView::ColLink)->data(Qt::DecorationRole).value<QColor>();
    }
    // Every lamp green (and every controller's hottest sensor shown: named statuses are no
    // status codes, so with named values there is none).
    static bool allUp(PlantView &v, bool withHottest = false)
    {
        for (int row = 0; row < v.table().rowCount(); ++row)
            if (lamp(v, row) != kLime ||
                (withHottest && cell(v, row, PlantView::ColHottest)->text().isEmpty()))
                return false;
        return v.table().rowCount() > 0;
    }
    // Each controller's temperatures name it and their sensor: address * 100 + sensor,
    // frozen there; sensor (address - 100) has no power.
    void nameTemperatures()
    {
        for (const Simulated &s : where) {
            for (int sensor = 1; sensor <= 9; ++sensor)
                QVERIFY(s.sim->command(s.address, QStringLiteral("set temp %1 %2").arg(sensor).arg(s.address * 100 + sensor)).startsWith("OK"));
            QVERIFY(s.sim->command(s.address, "freeze").startsWith("OK"));
        }
    }
    // As a mouse does it: the item view takes a double-click only on the row pressed.
    static void doubleClickRow(PlantView &v, int row)
    {
        const QPoint at = v.table().visualItemRect(cell(v, row, PlantView::ColName)).center();
        QTest::mouseClick(v.table().viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(v.table().viewport(), Qt::LeftButton, {}, at);
    }
    // The rows whose update time moves on (a second at least) while this one waits.
    static void waitForUpdates(PlantView &v, const QList<int> &rows)
    {
        QMap<int, QString> before;
        for (int row : rows)
            before[row] = cell(v, row, PlantView::ColUpdated)->text();
        for (int row : rows)
            QTRY_VERIFY2_WITH_TIMEOUT(cell(v, row, PlantView::ColUpdated)->text() != before[row],
                                      qPrintable(QString::number(row)), 15000);
    }

private slots:
    // As the base's, with the two TCP simulators.
    void cleanup()
    {
        tcpSim.stop();
        mbtcpSim.stop();
        sim.stop();
        folder.reset();
    }

    // The shipped start.ini holds every text of the plant view: the Russian of the code in
    // [lang0], English in [lang1].
    void textsShipped()
    {
        QVERIFY(CopyShippedData({"start.ini"}));
        const MemIniFile start("start.ini");
        const QRegularExpression cyrillic("[\\x{0400}-\\x{04FF}]");
        for (const TextKey &k : Msg::plant) {
            QCOMPARE(start.readString("lang0", k.key, {}), russian(k));
            const QString english = start.readString("lang1", k.key, {});
            QVERIFY2(!english.isEmpty() && !english.contains(cyrillic), k.key);
        }
    }

    // Each row shows its own controller's values: the hottest temperature names the sensor
    // shown beside it and the controller of the row, never another's.
    void rowsShowTheirOwnControllersValues_data()
    {
        QTest::addColumn<bool>("mixed");
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("one line") << false << QStringList();
        QTest::newRow("one line paced 19200") << false << QStringList{"--pace", "--baud", "19200"};
        QTest::newRow("line, rtu over tcp, modbus tcp") << true << QStringList();
    }
    void rowsShowTheirOwnControllersValues()
    {
        QFETCH(bool, mixed);
        QFETCH(QStringList, extra);
        const PlantConfig plant = setUpPlant(mixed, extra, false);
        QCOMPARE(int(plant.controllers.size()), 4);
        nameTemperatures();
        if (!extra.isEmpty()) {
            MemIniFile start("start.ini");
            start.writeInteger("connect", "speed", 1); // 19200, as the simulator
            QVERIFY(start.updateFile());
        }
        PlantView view;
        view.show();
        view.Start(true);
        QCOMPARE(view.objectName(), QStringLiteral("PlantView"));
        QCOMPARE(view.table().rowCount(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(allUp(view, true), 30000);
        for (int row = 0; row < 4; ++row) {
            const Simulated &s = where[size_t(row)];
            QCOMPARE(cell(view, row, PlantView::ColName)->text(), plant.controllers[size_t(row)].name);
            QCOMPARE(cell(view, row, PlantView::ColDevice)->text(), QStringLiteral("3126, 1.2"));
            QCOMPARE(cell(view, row, PlantView::ColRegistered)->text(), QStringLiteral("12"));
            const auto [sensor, temp] = hottestOf(cell(view, row, PlantView::ColHottest)->text());
            QVERIFY2(sensor >= 1 && sensor <= 9, qPrintable(cell(view, row, PlantView::ColHottest)->text()));
            QCOMPARE(temp, s.address * 100 + sensor);
        }
    }

    // One controller falls silent: its lamp goes grey while the others go on updating; back
    // on, its lamp is green again.
    void silentControllersLampGoesOffWhileOthersUpdate()
    {
        setUpPlant(false, {}, false);
        PlantView view;
        view.show();
        view.Start(true);
        QTRY_VERIFY_WITH_TIMEOUT(allUp(view), 30000);
        QVERIFY(sim.command(103, "offline").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp(view, 2), kGrey, 20000);
        QVERIFY(!cell(view, 2, PlantView::ColLink)->text().isEmpty());
        for (int row : {0, 1, 3})
            QCOMPARE(lamp(view, row), kLime);
        waitForUpdates(view, {0, 1, 3});
        QCOMPARE(lamp(view, 2), kGrey);
        QVERIFY(sim.command(103, "online").startsWith("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(lamp(view, 2), kLime, 30000);
    }

    // A click on a count lists those sensors by number.
    void countClickListsItsSensors()
    {
        setUpPlant(false, {}, false);
        for (int s : {4, 9})
            QVERIFY(sim.command(102, QStringLiteral("set status %1 10").arg(s)).startsWith("OK"));
        PlantView view;
        view.show();
        view.Start(true);
        // Sensor 10 has no power from the start.
        QTRY_COMPARE_WITH_TIMEOUT(cell(view, 1, PlantView::ColNoPower)->text(), QStringLiteral("3"), 30000);
        QTest::mouseClick(view.table().viewport(), Qt::LeftButton, {},
                          view.table().visualItemRect(cell(view, 1, PlantView::ColNoPower)).center());
        QTRY_VERIFY(view.sensorList());
        QStringList lines;
        for (int i = 0; i < view.sensorList()->count(); ++i)
            lines << view.sensorList()->item(i)->text().section(QStringLiteral(" — "), 0, 0);
        QCOMPARE(lines, (QStringList{"Датчик 4", "Датчик 9", "Датчик 10"}));
    }

    // A double-click opens the controller's own window, driven by the plant: its name in the
    // title, its pages showing its data. A threshold written there goes to its address only,
    // while the others go on updating; closing it returns to the view and polling goes on.
    void doubleClickOpensTheControllersWindow()
    {
        const PlantConfig plant = setUpPlant(false);
        // Sensor 1 of the third controller with settings the checks accept.
        QVERIFY(sim.command(103, "set reg 0x1000 482 64 30 40 2 1 2").startsWith("OK"));
        PlantView view;
        view.show();
        view.Start(true);
        QTRY_VERIFY_WITH_TIMEOUT(allUp(view), 30000);
        doubleClickRow(view, 2);
        QTRY_VERIFY(view.controllerWindow(2));
        TForm1 &form = *view.controllerWindow(2);
        QVERIFY(form.windowTitle().startsWith(QStringLiteral("Камера 3")));
        QVERIFY(view.plant()->controller(2).Attached());
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 20000);
        // The sensor-data grid: temperatures of the third controller's registers.
        QAbstractItemModel *data = form.findChild<QTableView *>("StringGridSensorsData")->model();
        QTRY_VERIFY_WITH_TIMEOUT(!data->index(1, 1).data().toString().isEmpty(), 20000);
        const int sensor = data->index(1, 0).data().toString().section(u' ', -1).toInt();
        QCOMPARE(data->index(1, 1).data().toString(),
                 QString::number(NamedValue(quint16(0x0100 + sensor - 1), 2)));

        // Threshold 1 of sensor 1 changed and written.
        auto *pages = form.findChild<QTabWidget *>("PageControlQOR");
        pages->setCurrentWidget(form.findChild<QWidget *>("TabSheetSensorSettings"));
        auto *copy = form.findChild<QPushButton *>("ButtonCopySensorSettingsToUser");
        QTRY_VERIFY_WITH_TIMEOUT(copy->isEnabled(), 30000);
        QTest::mouseClick(copy, Qt::LeftButton);
        QAbstractItemModel *user = form.findChild<QTableView *>("StringGridSensorSettingsUser")->model();
        QCOMPARE(user->index(1, 0).data().toString(), QStringLiteral("Датчик 1"));
        QVERIFY(user->setData(user->index(1, 2), QStringLiteral("44"), Qt::EditRole));
        const QStringList writesBefore = writesIn(sim);
        QTest::mouseClick(form.findChild<QPushButton *>("ButtonDownloadSensorSettingtsToQor"), Qt::LeftButton);
        QVERIFY(form.state().writeSensorSettingsRequested);
        QTRY_VERIFY_WITH_TIMEOUT(!form.state().writeSensorSettingsRequested, 30000);
        QVERIFY(form.state().lastWriteSucceeded);
        QCOMPARE(writesIn(sim), writesBefore + QStringList{ExpectedFrames::writeMultiple(
                                                   103, 0x1000, {482, 64, 44, 40, 2, 1, 2})});
        QCOMPARE(sim.command(103, "get 0x1000 7"), QStringLiteral("OK 482 64 44 40 2 1 2"));
        waitForUpdates(view, {0, 1, 3});

        // A second double-click raises the open window.
        doubleClickRow(view, 2);
        QCOMPARE(view.controllerWindow(2), &form);
        QPointer<TForm1> alive(&form);
        form.close();
        QTRY_VERIFY(alive.isNull());
        QVERIFY(!view.plant()->controller(2).Attached());
        waitForUpdates(view, {0, 1, 2, 3});
        QCOMPARE(lamp(view, 2), kLime);
        QCOMPARE(plant, view.plant()->config());
    }

    // What a user does while a step waits for an answer (handlers run inside its waits)
    // must not take the engine from under the step: the window goes, the plant restarts or
    // stops only between steps. Paced, so that the steps wait long.
    void actionsInsideAStep_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("close the controller window") << "close window";
        QTest::newRow("OK in the plant dialog") << "dialog ok";
        QTest::newRow("close the plant view") << "close view";
    }
    void actionsInsideAStep()
    {
        QFETCH(QString, action);
        setUpPlant(false, {"--pace", "--baud", "9600"}, false);
        auto view = std::make_unique<PlantView>();
        QPointer<PlantView> alive(view.get());
        view->show();
        view->Start(true);
        QTRY_VERIFY_WITH_TIMEOUT(allUp(*view), 60000);
        if (action == "close window") {
            doubleClickRow(*view, 1);
            QTRY_VERIFY_WITH_TIMEOUT(view->controllerWindow(1) && view->controllerWindow(1)->state().linkUp, 30000);
        }
        if (action == "dialog ok") {
            QTest::mouseClick(view->findChild<QWidget *>("ToolButtonPlant"), Qt::LeftButton);
            QTRY_VERIFY(view->dialog() && view->dialog()->isVisible());
            view->dialog()->table().item(0, PlantDialog::ColName)->setText(QStringLiteral("Новое имя"));
        }
        QPointer<TForm1> window = view->controllerWindow(1);
        bool done = false;
        QTimer actor;
        connect(&actor, &QTimer::timeout, view.get(), [&] {
            // Only from inside a step of the controller whose window it is.
            if (done || !view->plant() || !view->plant()->StepRunning() ||
                (window && !window->PollStepRunning()))
                return;
            done = true;
            if (action == "close window")
                window->close();
            else if (action == "dialog ok")
                QTest::mouseClick(view->dialog()->findChild<QPushButton *>("ButtonPlantOK"), Qt::LeftButton);
            else
                view->close();
        });
        actor.start(5);
        QTRY_VERIFY_WITH_TIMEOUT(done, 30000);
        if (action == "close window") {
            QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 30000);
            QVERIFY(!view->plant()->controller(1).Attached());
            waitForUpdates(*view, {0, 1, 2, 3});
        } else if (action == "dialog ok") {
            QTRY_VERIFY_WITH_TIMEOUT(view->plant() && view->plant()->config().controllers[0].name == QStringLiteral("Новое имя"), 30000);
            QTRY_VERIFY_WITH_TIMEOUT(allUp(*view), 60000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible(), 30000);
        }
    }

    // Edits in the dialog reach plant.ini and the running plant.
    void dialogEditsRoundTrip_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::newRow("rename") << "rename";
        QTest::newRow("move down") << "down";
        QTest::newRow("move up") << "up";
        QTest::newRow("remove") << "remove";
        QTest::newRow("add") << "add";
        QTest::newRow("address and line settings") << "line";
    }
    void dialogEditsRoundTrip()
    {
        QFETCH(QString, edit);
        const PlantConfig plant = setUpPlant(false);
        PlantView view;
        view.show();
        view.Start(true);
        QTest::mouseClick(view.findChild<QWidget *>("ToolButtonPlant"), Qt::LeftButton);
        PlantDialog *dialog = view.findChild<PlantDialog *>("PlantDialog");
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(dialog->config(), plant);
        QTableWidget &t = dialog->table();
        auto click = [&](const char *name) { QTest::mouseClick(dialog->findChild<QPushButton *>(name), Qt::LeftButton); };
        PlantConfig expected = plant;
        auto &c = expected.controllers;
        if (edit == "rename") {
            t.item(1, PlantDialog::ColName)->setText(QStringLiteral("Морозильник"));
            c[1].name = QStringLiteral("Морозильник");
        } else if (edit == "down") {
            t.selectRow(0);
            click("ButtonPlantDown");
            std::swap(c[0], c[1]);
        } else if (edit == "up") {
            t.selectRow(3);
            click("ButtonPlantUp");
            std::swap(c[2], c[3]);
        } else if (edit == "remove") {
            t.selectRow(1);
            click("ButtonPlantRemove");
            c.erase(c.begin() + 1);
        } else if (edit == "add") {
            t.selectRow(3);
            click("ButtonPlantAdd");
            PlantEntry e;
            e.name = QStringLiteral("Контроллер 5");
            e.port = c[3].port;
            e.address = 105;
            c.push_back(e);
        } else if (edit == "line") {
            t.item(3, PlantDialog::ColAddress)->setText(QStringLiteral("120"));
            qobject_cast<QComboBox *>(t.cellWidget(3, PlantDialog::ColParity))->setCurrentIndex(1);
            for (int row = 0; row < 4; ++row)
                qobject_cast<QComboBox *>(t.cellWidget(row, PlantDialog::ColSpeed))->setCurrentIndex(2);
            for (PlantEntry &e : c) {
                e.speed = 1;
            }
            c[3].address = 120;
            c[3].parity = 0;
        }
        QCOMPARE(dialog->config(), expected);
        click("ButtonPlantOK");
        QTRY_VERIFY(!dialog->isVisible());
        PlantConfig read;
        QString error;
        QVERIFY2(ReadPlant(kPlantFileName, MemIniFile("start.ini"), QDir::currentPath(), read, error),
                 qPrintable(error));
        QCOMPARE(read, expected);
        // The plant restarts with it.
        QTRY_VERIFY(view.plant() && view.plant()->config() == expected);
        QCOMPARE(view.table().rowCount(), int(expected.controllers.size()));
        for (int row = 0; row < int(expected.controllers.size()); ++row)
            QCOMPARE(cell(view, row, PlantView::ColName)->text(), expected.controllers[size_t(row)].name);
    }

    // A plant the check refuses: its message is shown, plant.ini and the running plant stay.
    void dialogRefusesABadPlant_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("duplicate address on one port") << "duplicate address";
        QTest::newRow("address 0") << "address 0";
        QTest::newRow("address 248") << "address 248";
        QTest::newRow("not a number") << "address text";
        QTest::newRow("two speeds on one port") << "speeds";
        QTest::newRow("duplicate name") << "duplicate name";
        QTest::newRow("empty port") << "empty port";
    }
    void dialogRefusesABadPlant()
    {
        QFETCH(QString, fault);
        const PlantConfig plant = setUpPlant(false);
        const QByteArray before = fileBytes(kPlantFileName);
        ModalAnswerer modal;
        PlantView view;
        view.show();
        view.Start(true);
        Plant *running = view.plant();
        QTest::mouseClick(view.findChild<QWidget *>("ToolButtonPlant"), Qt::LeftButton);
        PlantDialog *dialog = view.dialog();
        QTRY_VERIFY(dialog && dialog->isVisible());
        QTableWidget &t = dialog->table();
        if (fault == "duplicate address")
            t.item(2, PlantDialog::ColAddress)->setText(QStringLiteral("101"));
        else if (fault == "address 0")
            t.item(2, PlantDialog::ColAddress)->setText(QStringLiteral("0"));
        else if (fault == "address 248")
            t.item(2, PlantDialog::ColAddress)->setText(QStringLiteral("248"));
        else if (fault == "address text")
            t.item(2, PlantDialog::ColAddress)->setText(QStringLiteral("1o3"));
        else if (fault == "speeds")
            qobject_cast<QComboBox *>(t.cellWidget(2, PlantDialog::ColSpeed))->setCurrentIndex(3);
        else if (fault == "duplicate name")
            t.item(3, PlantDialog::ColName)->setText(plant.controllers[0].name);
        else if (fault == "empty port")
            t.item(1, PlantDialog::ColPort)->setText(QString());
        const QString message = CheckPlant(dialog->config(), MemIniFile("start.ini"), QDir::currentPath());
        QVERIFY(!message.isEmpty());
        QTest::mouseClick(dialog->findChild<QPushButton *>("ButtonPlantOK"), Qt::LeftButton);
        QTRY_COMPARE(modal.messages, QStringList{russian(Msg::n675) + " | " + message});
        QVERIFY(dialog->isVisible());
        QCOMPARE(fileBytes(kPlantFileName), before);
        QCOMPARE(view.plant(), running);
        QCOMPARE(view.plant()->config(), plant);
    }

    // `velmaris --plant` in a folder without plant.ini: an empty view with the dialog open;
    // the first controller added and OK starts the plant.
    void withoutPlantIniTheDialogIsOffered()
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim, {"--address", "5"}), qPrintable(sim.errorText()));
        PlantView view;
        view.show();
        view.Start(true);
        QCOMPARE(view.table().rowCount(), 0);
        QVERIFY(!view.plant());
        QTRY_VERIFY(view.dialog() && view.dialog()->isVisible());
        QCOMPARE(view.findChild<QLabel *>("LabelPlantProblem")->text(), russian(Msg::n673));
        PlantDialog &dialog = *view.dialog();
        QTest::mouseClick(dialog.findChild<QPushButton *>("ButtonPlantAdd"), Qt::LeftButton);
        QCOMPARE(dialog.table().rowCount(), 1);
        dialog.table().item(0, PlantDialog::ColPort)->setText(sim.portSetting());
        dialog.table().item(0, PlantDialog::ColAddress)->setText(QStringLiteral("5"));
        QTest::mouseClick(dialog.findChild<QPushButton *>("ButtonPlantOK"), Qt::LeftButton);
        QTRY_VERIFY(view.plant());
        QVERIFY(QFile::exists(kPlantFileName));
        QTRY_VERIFY_WITH_TIMEOUT(allUp(view), 30000);
        QCOMPARE(cell(view, 0, PlantView::ColName)->text(), QStringLiteral("Контроллер 1"));
    }

    // Test connection goes through the plant's bus and never blocks: the line says
    // "testing" at once, then what the controller's next step found.
    void testConnectionTellsWhatTheBusFound()
    {
        setUpPlant(false);
        QVERIFY(sim.command(104, "offline").startsWith("OK"));
        PlantView view;
        view.show();
        view.Start(true);
        QTest::mouseClick(view.findChild<QWidget *>("ToolButtonPlant"), Qt::LeftButton);
        PlantDialog &dialog = *view.dialog();
        auto *result = dialog.findChild<QLabel *>("LabelPlantTest");
        dialog.table().selectRow(0);
        QTest::mouseClick(dialog.findChild<QPushButton *>("ButtonPlantTest"), Qt::LeftButton);
        QCOMPARE(result->text(), QStringLiteral("Камера 1: ") + russian(Msg::n688));
        QTRY_COMPARE_WITH_TIMEOUT(result->text(), QStringLiteral("Камера 1: Модуль на связи: 3126, 1.2"), 20000);
        dialog.table().selectRow(3);
        QTest::mouseClick(dialog.findChild<QPushButton *>("ButtonPlantTest"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(result->text().startsWith(QStringLiteral("Камера 4: ") + russian(Msg::n689)), 30000);
    }
};

QTEST_MAIN(TestPlantView)
#include "tst_plant_view.moc"
