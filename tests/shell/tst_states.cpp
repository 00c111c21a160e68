// What the window shows about states: sensor rows tinted by their status, live cells greyed
// while the link is down, the cells' tool tips, the access mode, the link problem over the
// pages and the port list of the connection dialog. Offscreen, against the simulator.
#include "Conpar.h"
#include "ControllerFolder.h"
#include "GridView.h"
#include "LinkProblemBanner.h"
#include "LookupText.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "RunEvents.h"
#include "SensorLook.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QToolTip>

namespace {

QString Russian(const TextKey &key) { return QString::fromUtf16(key.russian); }

// WCAG contrast ratio of two colours (1 … 21).
double Contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) {
            v /= 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

struct Cell {
    GridView *grid = nullptr;
    int row = -1;
};

} // namespace

class TestStates : public ControllerFolderTest {
    Q_OBJECT

    std::unique_ptr<ModalAnswerer> modal;
    std::unique_ptr<TForm1> form;

    template <class T = QWidget> T *child(const char *name)
    {
        T *c = form->findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }
    GridView *grid(int i)
    {
        return child<GridView>(i == 0 ? "StringGridSensorsData" : "StringGridSensorsData2");
    }
    // The row showing a sensor (1-based), in whichever grid holds it.
    Cell rowOf(int sensor)
    {
        const QString label = QStringLiteral("Датчик %1").arg(sensor);
        for (int i = 0; i < 2; ++i)
            for (int row = 1; row < grid(i)->grid().rowCountGrid(); ++row)
                if (grid(i)->grid().cell(0, row) == label)
                    return {grid(i), row};
        return {};
    }
    QString cellText(int sensor, int col)
    {
        const Cell c = rowOf(sensor);
        return c.grid ? c.grid->grid().cell(col, c.row) : QString();
    }
    GridView::CellLook lookOf(int sensor, int col)
    {
        const Cell c = rowOf(sensor);
        return c.grid ? c.grid->cellLook(col, c.row) : GridView::CellLook{};
    }

    // The shipped data, the simulator on a pty and the window on the sensor-data page.
    void startWindow(const QStringList &simArgs = {}, const QString &password = "7593")
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim, simArgs), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.portSetting());
        QVERIFY(start.updateFile());
        openWindow(password);
        QTRY_VERIFY_WITH_TIMEOUT(form->state().linkUp, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!cellText(1, 1).isEmpty(), 10000);
    }
    void openWindow(const QString &password)
    {
        modal = std::make_unique<ModalAnswerer>();
        modal->password(password);
        form = std::make_unique<TForm1>();
        form->resize(1400, 900);
        form->show();
    }
    bool lampOnline()
    {
        return child("Shape1")->property("color").value<QColor>() == QColor(0, 255, 0);
    }

    // Every live cell of both data grids and the relay states: greyed or not.
    void checkGreyed(bool greyed)
    {
        int checked = 0;
        for (int i = 0; i < 2; ++i) {
            GridView *g = grid(i);
            const QColor back = SensorLook::StaleBackground(g->palette());
            const QColor text = SensorLook::StaleText(g->palette());
            for (int row = 1; row < g->grid().rowCountGrid(); ++row) {
                if (g->grid().cell(0, row).isEmpty())
                    continue;
                for (int col = 1; col <= 3; ++col) {
                    const GridView::CellLook look = g->cellLook(col, row);
                    const QString where =
                        QStringLiteral("grid %1 cell %2,%3").arg(i).arg(col).arg(row);
                    QVERIFY2((look.background == back && look.text == text) == greyed,
                             qPrintable(where));
                    QVERIFY2(look.toolTip.startsWith(Russian(Msg::n400)) == greyed,
                             qPrintable(where));
                    ++checked;
                }
                // The sensor's name is no value: never greyed.
                QVERIFY(g->cellLook(0, row).background != back);
            }
        }
        QVERIFY(checked >= 12 * 3);
        // On screen too: the first temperature and the first relay state.
        RunEvents(100);
        const QImage shot = form->screen()->grabWindow(form->winId()).toImage();
        auto corner = [&](GridView *g, int col, int row) {
            const QRect r = g->visualRect(g->model()->index(row, col));
            return QColor(
                shot.pixel(g->viewport()->mapTo(form.get(), QPoint(r.right() - 3, r.top() + 3))));
        };
        QCOMPARE(corner(grid(0), 1, 1) == SensorLook::StaleBackground(grid(0)->palette()), greyed);
        auto *relays = child<GridView>("StringGridQorRelay");
        for (int row = 0; row < relays->grid().rowCountGrid(); ++row) {
            const GridView::CellLook look = relays->cellLook(1, row);
            QCOMPARE(look.background == SensorLook::StaleBackground(relays->palette()), greyed);
            QCOMPARE(look.text == SensorLook::StaleText(relays->palette()), greyed);
        }
        QCOMPARE(corner(relays, 1, 0) == SensorLook::StaleBackground(relays->palette()), greyed);
    }

private slots:
    // The window goes before the simulator and the folder.
    void cleanup()
    {
        form.reset();
        modal.reset();
        sim.stop();
        folder.reset();
    }

    // One row per status code the controller can send, and codes it should not.
    void rowTintedByStatus_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("legendCode"); // the legend swatch that names the colour; 0: none
        QTest::newRow("on the air") << 0 << Russian(Msg::n104) << 0;
        QTest::newRow("threshold 1") << 1 << Russian(Msg::n105) << 1;
        QTest::newRow("threshold 2") << 2 << Russian(Msg::n106) << 2;
        QTest::newRow("no power") << 10 << Russian(Msg::n107) << 10;
        QTest::newRow("faulty") << 20 << Russian(Msg::n108) << 20;
        QTest::newRow("undetermined") << 30 << Russian(Msg::n109) << 30;
        QTest::newRow("unknown 3")
            << 3 << QStringLiteral("-------") << SensorLook::kUnknownLegendCode;
        QTest::newRow("unknown 57")
            << 57 << QStringLiteral("-------") << SensorLook::kUnknownLegendCode;
        QTest::newRow("unknown 65535")
            << 65535 << QStringLiteral("-------") << SensorLook::kUnknownLegendCode;
    }
    void rowTintedByStatus()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(int, legendCode);
        startWindow();
        QCOMPARE(sim.command(QStringLiteral("set status 3 %1").arg(code)), QStringLiteral("OK"));
        QTRY_COMPARE_WITH_TIMEOUT(cellText(3, 2), text, 10000); // the text stays the status text
        const Cell at = rowOf(3);
        QColor legend;
        for (QLabel *swatch : child("SensorStateLegend")->findChildren<QLabel *>())
            if (swatch->property("stateCode").toInt() == legendCode && legendCode != 0) {
                QVERIFY(!swatch->text().isEmpty());
                legend = swatch->palette().color(QPalette::Window);
            }
        QCOMPARE(legendCode != 0, legend.isValid());
        for (int col = 0; col <= 3; ++col) {
            const GridView::CellLook look = at.grid->cellLook(col, at.row);
            QCOMPARE(look.background, legend); // invalid: the grid's own ground
            if (legend.isValid())
                QVERIFY2(Contrast(look.text, look.background) >= 7.0,
                         "text unreadable on its tint");
        }
        // The unknown code is named in the state cell's tool tip.
        const QString tip = at.grid->cellLook(2, at.row).toolTip;
        QCOMPARE(tip.contains(Russian(Msg::n398) + QStringLiteral(": %1").arg(code)),
                 legendCode == SensorLook::kUnknownLegendCode);
        // And the tint is what is painted, on the sensor's name too, whose text never
        // changed (a cell's corner, away from its text).
        // What is on screen, not a fresh rendering: a cell left out of the repaint keeps
        // its old ground there.
        RunEvents(100);
        const QImage shot = form->screen()->grabWindow(form->winId()).toImage();
        for (int col : {0, 1}) {
            const QRect r = at.grid->visualRect(at.grid->model()->index(at.row, col));
            const QPoint corner =
                at.grid->viewport()->mapTo(form.get(), QPoint(r.right() - 3, r.top() + 3));
            const QColor painted(shot.pixel(corner));
            QVERIFY2(legend.isValid() ? painted == legend : painted != legend,
                     qPrintable(QStringLiteral("column %1: %2").arg(col).arg(painted.name())));
        }
    }

    void tintsAreDistinct()
    {
        // Six states a user must tell apart, none of them mistaken for greyed cells.
        QList<QColor> seen{SensorLook::StaleBackground(QPalette())};
        for (int code : {1, 2, 10, 20, 30, 77}) {
            const auto tint = SensorLook::StateTint(quint16(code));
            QVERIFY(tint);
            for (const QColor &other : seen)
                QVERIFY2(qAbs(tint->red() - other.red()) + qAbs(tint->green() - other.green()) +
                                 qAbs(tint->blue() - other.blue()) >= 40,
                         qPrintable(QString::number(code)));
            seen << *tint;
        }
    }

    // Link lost and link stopped by the user: every live cell greyed, not only the column
    // of the read that failed; fresh again when the link is back.
    void liveCellsGreyedWhileNotFresh_data()
    {
        QTest::addColumn<bool>("stop"); // the user stops the link; else the controller goes
        QTest::newRow("link lost") << false;
        QTest::newRow("stopped by the user") << true;
    }
    void liveCellsGreyedWhileNotFresh()
    {
        QFETCH(bool, stop);
        startWindow();
        QTRY_VERIFY(lampOnline());
        checkGreyed(false);
        if (QTest::currentTestFailed())
            return;
        if (stop)
            QTest::mouseClick(child<QToolButton>("ToolButton3"), Qt::LeftButton);
        else
            QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(!lampOnline(), 15000);
        checkGreyed(true);
        if (QTest::currentTestFailed())
            return;
        if (stop)
            QTest::mouseClick(child<QToolButton>("ToolButton4"), Qt::LeftButton);
        else
            QCOMPARE(sim.command("online"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(lampOnline(), 15000);
        checkGreyed(false);
    }

    void toolTips_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("expected"); // a line the tip holds
        QTest::addColumn<QString>("absent");   // a text it must not hold
        const QString ago = QStringLiteral(" назад");
        QTest::newRow("seconds") << "set elapsed 3 42" << 3 << "42 с" + ago << "мин";
        QTest::newRow("57 min") << "set elapsed 3 3420" << 3 << "57 мин" + ago << "";
        QTest::newRow("min and s") << "set elapsed 3 3431" << 3 << "57 мин 11 с" + ago << "";
        QTest::newRow("hours") << "set elapsed 3 7380" << 3 << "2 ч 3 мин" + ago << "";
        QTest::newRow("implausible high")
            << "set temp 3 65526" << 1 << Russian(Msg::n401) + " (\u221260 \u2026 +150 \u00B0C)"
            << "";
        QTest::newRow("implausible just over") << "set temp 3 151" << 1 << Russian(Msg::n401) << "";
        QTest::newRow("plausible") << "set temp 3 150" << 1 << "" << Russian(Msg::n401);
    }
    void toolTips()
    {
        QFETCH(QString, command);
        QFETCH(int, col);
        QFETCH(QString, expected);
        QFETCH(QString, absent);
        startWindow();
        QCOMPARE(sim.command("freeze"), QStringLiteral("OK"));
        QCOMPARE(sim.command(command), QStringLiteral("OK"));
        const QString value = command.section(u' ', -1);
        QTRY_COMPARE_WITH_TIMEOUT(cellText(3, col), value, 10000);
        const QString tip = lookOf(3, col).toolTip;
        if (!expected.isEmpty())
            QVERIFY2(tip.split(u'\n').contains(expected) || tip.contains(expected),
                     qPrintable(tip));
        if (!absent.isEmpty())
            QVERIFY2(!tip.contains(absent), qPrintable(tip));
        if (col == 3) // the time column's hint stays
            QVERIFY(tip.contains(Russian(Msg::n73)));
        // The tip is what the user sees when resting the mouse on the cell.
        if (!tip.isEmpty()) {
            const Cell at = rowOf(3);
            const QRect r = at.grid->visualRect(at.grid->model()->index(at.row, col));
            QHelpEvent help(QEvent::ToolTip, r.center(),
                            at.grid->viewport()->mapToGlobal(r.center()));
            QApplication::sendEvent(at.grid->viewport(), &help);
            QTRY_COMPARE(QToolTip::text(), tip);
        }
    }

    // The tag, read on the sensor-settings page, names the sensor in the live grids.
    // The tags come with the settings page's read, or are asked for by the first hover.
    void tagOnTheSensorName_data()
    {
        QTest::addColumn<bool>("settingsPageFirst");
        QTest::newRow("settings page read") << true;
        QTest::newRow("asked by a hover") << false;
    }
    void tagOnTheSensorName()
    {
        QFETCH(bool, settingsPageFirst);
        startWindow();
        QCOMPARE(sim.command("set tag 3 Cold room 3"), QStringLiteral("OK"));
        QCOMPARE(sim.command("set tag 4 Oven 4"), QStringLiteral("OK"));
        if (settingsPageFirst) {
            auto *pages = child<QTabWidget>("PageControlQOR");
            pages->setCurrentWidget(child("TabSheetSensorSettings"));
            QTRY_VERIFY_WITH_TIMEOUT(child("ButtonCopySensorSettingsToUser")->isEnabled(), 20000);
            pages->setCurrentWidget(child("TabSheetSensorData"));
        }
        const QString label = form->state().Text("n122", "Метка датчика") + ": ";
        QTRY_COMPARE_WITH_TIMEOUT(lookOf(3, 0).toolTip, label + "Cold room 3", 10000);
        QCOMPARE(lookOf(4, 0).toolTip, label + "Oven 4");
    }

    void accessModeSaysSo_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("label");
        QTest::newRow("cancelled") << QString() << true;
        QTest::newRow("full") << "7593" << false;
    }
    void accessModeSaysSo()
    {
        QFETCH(QString, password);
        QFETCH(bool, label);
        QVERIFY(CopyShippedData({"start.ini"}));
        openWindow(password);
        auto *access = form->findChild<QLabel *>("AccessModeLabel");
        QCOMPARE(access != nullptr, label);
        if (!access)
            return;
        QVERIFY(access->isVisible());
        QCOMPARE(access->parentWidget(), form->statusBar());
        QCOMPARE(access->text(), Russian(Msg::n396));
        QVERIFY(access->toolTip().contains(QStringLiteral("пароль")));
        // English at once on a switch.
        QTest::mouseClick(child<QToolButton>("ToolButtonEngLanguage"), Qt::LeftButton);
        QTRY_VERIFY(access->text().startsWith(QStringLiteral("View only")));
    }

    // First start with no port, or one that does not open: the body says so, with a way to
    // the settings; a working port takes it away.
    void linkProblemInTheBody_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("first"); // the banner's text starts so
        QTest::newRow("no port") << "" << Russian(Msg::n390);
        QTest::newRow("no such device") << "/dev/ttyUSB-velmaris-none"
                                        << Russian(Msg::n391) + " /dev/ttyUSB-velmaris-none";
        QTest::newRow("COM25") << "COM25" << Russian(Msg::n391) + " COM25";
        QTest::newRow("refused connection")
            << "tcp://127.0.0.1:1" << Russian(Msg::n391) + " tcp://127.0.0.1:1";
    }
    void linkProblemInTheBody()
    {
        QFETCH(QString, port);
        QFETCH(QString, first);
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", port);
        QVERIFY(start.updateFile());
        openWindow("7593");
        auto *banner = child<LinkProblemBanner>("LinkProblemBanner");
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), 10000);
        auto *text = child<QLabel>("LinkProblemText");
        QVERIFY2(text->text().startsWith(first), qPrintable(text->text()));
        QVERIFY(banner->geometry().intersects(form->centralWidget()->rect()));
        // The button opens the connection dialog without a loop of its own.
        bool returned = false;
        QTimer::singleShot(0, [&] {
            QTest::mouseClick(child<QPushButton>("LinkProblemSettings"), Qt::LeftButton);
            returned = true;
        });
        QTRY_VERIFY(returned);
        TConparDlg &dialog = form->conparDlg();
        QVERIFY(dialog.isVisible());
        // The user picks the controller's port there: the banner goes once it answers.
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        auto *portBox = dialog.findChild<QComboBox *>("ComboBox1");
        portBox->setEditText(sim.portSetting());
        QTest::mouseClick(dialog.findChild<QPushButton *>("OKBtn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form->state().linkUp, 15000);
        QTRY_VERIFY(!banner->isVisible());
        // The controller going silent is said there too.
        QCOMPARE(sim.command("offline"), QStringLiteral("OK"));
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), 20000);
        QVERIFY2(text->text().startsWith(Russian(Msg::n393) + u' ' + sim.portSetting()),
                 qPrintable(text->text()));
    }

    // The system's ports first (adapters, modems, stable links, the rest), then COM1..COM20.
    void portListOrder_data()
    {
        QTest::addColumn<QStringList>("system");
        QTest::addColumn<QStringList>("expected"); // the items before COM1
        QTest::newRow("none") << QStringList{} << QStringList{};
        QTest::newRow("adapters and modems")
            << QStringList{"/dev/ttyACM0", "/dev/ttyUSB10", "/dev/ttyS4", "/dev/ttyUSB2"}
            << QStringList{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/ttyS4"};
        QTest::newRow("by-id links")
            << QStringList{"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", "/dev/ttyUSB0",
                           "/dev/ttyAMA0", "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0"}
            << QStringList{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0",
                           "/dev/serial/by-id/usb-Prolific_PL2303-if00-port0", "/dev/ttyAMA0"};
    }
    void portListOrder()
    {
        QFETCH(QStringList, system);
        QFETCH(QStringList, expected);
        MemIniFile settings("start.ini");
        settings.writeString("connect", "port", system.value(0));
        TConparDlg dialog(settings);
        dialog.systemPorts = [system] {
            QList<TConparDlg::SystemPort> ports;
            for (const QString &path : system)
                ports.append({path, "what " + path.section(u'/', -1)});
            return ports;
        };
        dialog.Edit();
        auto *box = dialog.findChild<QComboBox *>("ComboBox1");
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QStringList com;
        for (int i = 1; i <= 20; ++i)
            com << QStringLiteral("COM%1").arg(i);
        QCOMPARE(items, expected + com);
        // Each system port says what it is; the stored setting stays the path.
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(box->itemData(i, Qt::ToolTipRole).toString(),
                     "what " + expected[i].section(u'/', -1));
        QCOMPARE(box->currentText(), system.value(0));
        dialog.reject();
    }

    // The empty fourth parity item is gone; a setting that chose it still loads.
    void parityItems_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("saved");
        QTest::newRow("none") << "0" << 0 << "0";
        QTest::newRow("even") << "1" << 1 << "1";
        QTest::newRow("odd") << "2" << 2 << "2";
        QTest::newRow("the empty item") << "3" << 0 << "0";
        QTest::newRow("out of the list") << "7" << -1 << "-1";
    }
    void parityItems()
    {
        QFETCH(QString, stored);
        QFETCH(int, shown);
        QFETCH(QString, saved);
        MemIniFile settings("start.ini");
        settings.writeString("connect", "parity", stored);
        TConparDlg dialog(settings);
        dialog.systemPorts = [] { return QList<TConparDlg::SystemPort>{}; };
        dialog.Edit();
        auto *parity = dialog.findChild<QComboBox *>("ComboBox3");
        QCOMPARE(parity->count(), 3);
        for (int i = 0; i < parity->count(); ++i)
            QVERIFY(!parity->itemText(i).isEmpty());
        QCOMPARE(parity->currentIndex(), shown);
        QTest::mouseClick(dialog.findChild<QPushButton *>("OKBtn"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(settings.readString("connect", "parity", "?"), saved);
    }
};

QTEST_MAIN(TestStates)
#include "tst_states.moc"
