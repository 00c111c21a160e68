// The main window on a laptop-sized screen (1280 x 720, set up in main below) and the
// desktop conventions around it: every page fits, the window's place is kept, the
// language pair, the tool buttons' keys, About and F1.
#include "ControllerFolder.h"
#include "Desktop.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>

// Takes the URL QDesktopServices would hand to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    explicit UrlCatcher(QUrl *into) : m_into(into) {}
public slots:
    void open(const QUrl &url) { *m_into = url; }

private:
    QUrl *m_into;
};

class TestDesktop : public ControllerFolderTest {
    Q_OBJECT

    template <class T = QWidget> static T *child(QWidget &w, const char *name)
    {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }

    void withController(int lang, const QString &window = QString())
    {
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        QVERIFY2(StartShippedSim(sim), qPrintable(sim.errorText()));
        MemIniFile start("start.ini");
        start.writeString("connect", "port", sim.portSetting());
        start.writeInteger("language", "lang", lang);
        start.writeString("chart", "visible", "1");
        if (!window.isEmpty())
            start.writeString("window", "geometry", window);
        QVERIFY(start.updateFile());
    }

    // The caption is drawn whole: it fits the button's contents, or the button was made to
    // elide it and its tool tip holds it whole.
    static bool captionFits(QAbstractButton *b)
    {
        const QString text = QString(b->text()).remove(u'&');
        if (auto *push = qobject_cast<QPushButton *>(b)) {
            QStyleOptionButton opt;
            opt.initFrom(push);
            opt.text = push->text();
            opt.icon = push->icon();
            opt.iconSize = push->iconSize();
            int room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, push).width();
            if (!push->icon().isNull())
                room -= push->iconSize().width() + 4;
            if (push->fontMetrics().horizontalAdvance(text) <= room)
                return true;
        } else if (b->sizeHint().width() <= b->width()) {
            return true;
        }
        return b->toolTip().contains(text);
    }

    static bool showsCaption(QAbstractButton *b)
    {
        auto *tool = qobject_cast<QToolButton *>(b);
        return !b->text().isEmpty() && !(tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly);
    }

    // Every fault of the window's fit on its screen, as text; empty when it fits.
    static QStringList misfits(TForm1 &form)
    {
        QStringList faults;
        const QRect screen = form.screen()->availableGeometry();
        if (!screen.contains(form.frameGeometry()))
            faults << QStringLiteral("window %1,%2 %3x%4")
                          .arg(form.frameGeometry().x()).arg(form.frameGeometry().y())
                          .arg(form.frameGeometry().width()).arg(form.frameGeometry().height());
        QStatusBar *bar = form.statusBar();
        if (!bar->isVisible() || !screen.contains(QRect(bar->mapToGlobal(QPoint()), bar->size())))
            faults << QStringLiteral("status bar off the screen");
        auto *tools = child<QToolBar>(form, "ToolBar1");
        for (QAction *a : tools->actions())
            if (a->isVisible() && tools->widgetForAction(a) && !tools->widgetForAction(a)->isVisible())
                faults << tools->widgetForAction(a)->objectName() + QStringLiteral(" in the overflow");
        for (QAbstractButton *b : form.findChildren<QAbstractButton *>()) {
            if (!b->isVisible() || b->window() != &form || b->objectName().startsWith("qt_") ||
                b->parent()->inherits("QTabBar"))
                continue;
            // A button in a page that scrolls counts when it can be scrolled into sight.
            for (QWidget *p = b->parentWidget(); p; p = p->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(p))
                    area->ensureWidgetVisible(b, 0, 0);
            QRect seen(b->mapToGlobal(QPoint()), b->size());
            const QRect whole = seen;
            for (QWidget *p = b->parentWidget(); p; p = p->parentWidget())
                seen &= QRect(p->mapToGlobal(QPoint()), p->size());
            if (seen != whole || !screen.contains(whole))
                faults << b->objectName() + QStringLiteral(" not wholly in sight");
            else if (showsCaption(b) && !captionFits(b))
                faults << b->objectName() + QStringLiteral(" cuts \"") + b->text() + u'"';
        }
        return faults;
    }

private slots:
    // At 1280 x 720 the status bar is on the screen and every button of every page can be
    // seen whole with its whole caption, in both languages.
    void everyPageFitsALaptopScreen_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("page");
        for (int lang : {0, 1})
            for (const char *page : {"TabSheetSensorData", "TabSheetSensorSettings",
                                     "TabSheetRelaySettings", "TabSheetConnectSettings",
                                     "TabSheetProfiles"})
                QTest::addRow("%s %s", lang ? "English" : "Russian", page) << lang << page;
    }
    void everyPageFitsALaptopScreen()
    {
        QFETCH(int, lang);
        QFETCH(QString, page);
        withController(lang);
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.RestoreWindowGeometry();
        form.ShowAsStored();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        QTRY_VERIFY(!form.state().sensorsData.cell(1, 0).isEmpty()); // the language's headers
        child<QTabWidget>(form, "PageControlQOR")->setCurrentWidget(child(form, qPrintable(page)));
        QTRY_COMPARE_WITH_TIMEOUT(misfits(form), QStringList(), 3000);
    }

    // The live chart shares the sensor page's height with the grids: no longer a strip.
    void liveChartGetsAShareOfTheHeight()
    {
        withController(0);
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.RestoreWindowGeometry();
        form.ShowAsStored();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 5000);
        auto *splitter = child<QSplitter>(form, "SplitterSensorData");
        QWidget *chart = child(form, "LiveChart");
        QVERIFY(chart->isVisible());
        QCOMPARE(splitter->indexOf(chart), 1);
        QTRY_VERIFY(chart->height() >= splitter->height() / 3);
    }

    // [window] of start.ini as a user may have left it, and where the window then goes on a
    // 1280 x 720 screen.
    void restoresTheStoredPlace_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QRect>("placed");
        QTest::addColumn<bool>("maximized");
        const QRect whole(0, 0, 1280, 720);
        QTest::newRow("on the screen") << "100,80,900,600" << QRect(100, 80, 900, 600) << false;
        QTest::newRow("partly off: moved in") << "1000,300,900,600" << QRect(380, 120, 900, 600) << false;
        QTest::newRow("larger than the screen: cut") << "0,0,1920,1080" << whole << false;
        QTest::newRow("on a screen that is gone") << "2200,100,900,600" << whole << true;
        QTest::newRow("title bar above the screen") << "100,-500,900,600" << whole << true;
        QTest::newRow("too small to use") << "100,100,40,30" << whole << true;
        QTest::newRow("not numbers") << "a,b,c,d" << whole << true;
        QTest::newRow("none") << "" << whole << true;
    }
    void restoresTheStoredPlace()
    {
        QFETCH(QString, stored);
        QFETCH(QRect, placed);
        QFETCH(bool, maximized);
        MemIniFile start("start.ini");
        start.writeString("window", "geometry", stored);
        start.writeInteger("window", "maximized", 0);
        QVERIFY(start.updateFile());
        TForm1 form;
        form.RestoreWindowGeometry();
        QCOMPARE(form.geometry(), placed);
        ModalAnswerer modal;
        modal.password("7593");
        form.ShowAsStored();
        QCOMPARE(form.isMaximized(), maximized);
    }

    // Closing keeps the place and the splitter in [window]; the next start puts them back.
    void placeAndSplitterSurviveARestart()
    {
        withController(0);
        QList<int> sizes;
        {
            ModalAnswerer modal;
            modal.password("7593");
            auto *form = new TForm1;
            form->setAttribute(Qt::WA_DeleteOnClose);
            QPointer<TForm1> alive(form);
            form->setGeometry(150, 90, 1000, 600);
            form->show();
            QTRY_VERIFY_WITH_TIMEOUT(form->state().linkUp, 5000);
            auto *splitter = child<QSplitter>(*form, "SplitterSensorData");
            QTRY_VERIFY(splitter->height() > 300);
            splitter->setSizes({splitter->height() - 210, 200});
            sizes = splitter->sizes();
            form->close();
            QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 15000);
        }
        const MemIniFile start("start.ini");
        QCOMPARE(start.readString("window", "geometry", ""), QStringLiteral("150,90,1000,600"));
        QVERIFY(!start.readString("window", "sensorDataSplit", "").isEmpty());
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.RestoreWindowGeometry();
        form.ShowAsStored();
        QCOMPARE(form.geometry(), QRect(150, 90, 1000, 600));
        QVERIFY(!form.isMaximized());
        QTRY_COMPARE(child<QSplitter>(form, "SplitterSensorData")->sizes(), sizes);
    }

    // The active language is the checked one of EN / RU, after a switch as at start.
    void languagePairShowsTheLanguage_data()
    {
        QTest::addColumn<int>("startLang");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("lang");
        QTest::newRow("Russian, EN clicked") << 0 << "ToolButtonEngLanguage" << 1;
        QTest::newRow("English, RU clicked") << 1 << "ToolButtonRusLanguage" << 0;
        QTest::newRow("Russian, RU clicked again") << 0 << "ToolButtonRusLanguage" << 0;
        QTest::newRow("English, EN clicked again") << 1 << "ToolButtonEngLanguage" << 1;
    }
    void languagePairShowsTheLanguage()
    {
        QFETCH(int, startLang);
        QFETCH(QString, click);
        QFETCH(int, lang);
        MemIniFile start("start.ini");
        start.writeInteger("language", "lang", startLang);
        QVERIFY(start.updateFile());
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        auto *en = child<QToolButton>(form, "ToolButtonEngLanguage");
        auto *ru = child<QToolButton>(form, "ToolButtonRusLanguage");
        QVERIFY(en->isCheckable() && ru->isCheckable());
        QCOMPARE(en->isChecked(), startLang == 1);
        QCOMPARE(ru->isChecked(), startLang == 0);
        QTest::mouseClick(child<QToolButton>(form, qPrintable(click)), Qt::LeftButton);
        QCOMPARE(MemIniFile("start.ini").readInteger("language", "lang", -1), lang);
        QCOMPARE(en->isChecked(), lang == 1);
        QCOMPARE(ru->isChecked(), lang == 0);
    }

    // Each tool button's key clicks it (so it runs the button's own handlers) and its tool
    // tip names the key.
    void keysClickTheirToolButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QKeySequence>("key");
        QTest::newRow("connection settings") << "ToolButton1" << QKeySequence("Ctrl+K");
        QTest::newRow("stop the link") << "ToolButton3" << QKeySequence("Shift+F5");
        QTest::newRow("resume the link") << "ToolButton4" << QKeySequence("F5");
        QTest::newRow("open a profile") << "ToolButtonQorOpenProfile" << QKeySequence("Ctrl+O");
        QTest::newRow("save a profile") << "ToolButtonQorSaveProfile" << QKeySequence("Ctrl+S");
        QTest::newRow("profile to the controller")
            << "ToolButtonQorLoadProfileToController" << QKeySequence("Ctrl+U");
        QTest::newRow("English") << "ToolButtonEngLanguage" << QKeySequence("Ctrl+Shift+E");
        QTest::newRow("Russian") << "ToolButtonRusLanguage" << QKeySequence("Ctrl+Shift+R");
        QTest::newRow("live chart") << "ToolButtonChart" << QKeySequence("Ctrl+G");
        QTest::newRow("trend viewer") << "ToolButtonTrendViewer" << QKeySequence("Ctrl+T");
        QTest::newRow("link statistics") << "ToolButtonLinkStatistics" << QKeySequence("Ctrl+I");
        QTest::newRow("frame log") << "ToolButtonFrameLog" << QKeySequence("Ctrl+L");
        QTest::newRow("readings to MQTT") << "ToolButtonMqtt" << QKeySequence("Ctrl+M");
        QTest::newRow("help") << "ToolButtonHelp" << QKeySequence("F1");
        QTest::newRow("about") << "ToolButtonAbout" << QKeySequence("Ctrl+F1");
    }
    void keysClickTheirToolButtons()
    {
        QFETCH(QString, button);
        QFETCH(QKeySequence, key);
        withController(0);
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 15000);
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        auto *b = child<QToolButton>(form, qPrintable(button));
        QVERIFY(b->isEnabled());
        QVERIFY2(b->toolTip().endsWith(u'(' + key.toString(QKeySequence::NativeText) + u')'),
                 qPrintable(b->toolTip()));
        QSignalSpy clicked(b, &QAbstractButton::clicked);
        QTest::keySequence(&form, key);
        QTRY_COMPARE(clicked.size(), 1);
    }

    // About names the version, the Qt in use, the licence and the working folder, and its
    // button opens that folder.
    void aboutNamesVersionLicenceAndFolder_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<QString>("licence");
        QTest::newRow("Russian") << 0 << "все права защищены";
        QTest::newRow("English") << 1 << "All rights reserved";
    }
    void aboutNamesVersionLicenceAndFolder()
    {
        QFETCH(int, lang);
        QFETCH(QString, licence);
        QVERIFY(CopyShippedData({"start.ini"}));
        MemIniFile start("start.ini");
        start.writeInteger("language", "lang", lang);
        QVERIFY(start.updateFile());
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonAbout"), Qt::LeftButton);
        auto *about = child<QDialog>(form, "AboutDialog");
        QVERIFY(about && about->isVisible());
        QVERIFY(!about->isModal() || about->windowModality() != Qt::ApplicationModal);
        const QString text = child<QLabel>(*about, "LabelAbout")->text();
        const QString folder = QDir::toNativeSeparators(QDir::currentPath());
        for (const QString &part : {QStringLiteral("150.724"), QString::fromLatin1(qVersion()),
                                    licence, folder.toHtmlEscaped()})
            QVERIFY2(text.contains(part), qPrintable(part + " not in " + text));
        QUrl opened;
        UrlCatcher catcher(&opened);
        QDesktopServices::setUrlHandler("file", &catcher, "open");
        QTest::mouseClick(child<QPushButton>(*about, "ButtonOpenFolder"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(QDir(opened.toLocalFile()).canonicalPath(), QDir::current().canonicalPath());
    }

    // F1 shows the README's user section.
    void helpShowsTheUsersGuide()
    {
        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.show();
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(&form, Qt::Key_F1);
        QTRY_VERIFY(form.findChild<QDialog *>("HelpDialog") &&
                    form.findChild<QDialog *>("HelpDialog")->isVisible());
        const QString text = child<QTextBrowser>(form, "TextBrowserHelp")->toPlainText();
        QVERIFY2(text.contains("7593") && text.contains("Ctrl+Shift+E"), qPrintable(text.left(300)));
        QVERIFY(!text.contains("## Installing") && !text.contains("cmake --install"));
    }

};

// A laptop's screen for the whole run: the offscreen platform with one 1280 x 720 screen.
int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    QFile config(dir.filePath(QStringLiteral("screen.json")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(R"({"screens":[{"name":"laptop","x":0,"y":0,"width":1280,"height":720,)"
                     R"("logicalDpi":96}]})") < 0)
        return 1;
    config.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toLocal8Bit());
    QApplication app(argc, argv);
    TestDesktop test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktop.moc"
