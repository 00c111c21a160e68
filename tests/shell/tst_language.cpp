// Every window, page and dialog in the language chosen: no Russian left in English, and
// in Russian nothing English where a Russian text exists (Qt's own dialogs included).
#include "ControllerFolder.h"
#include "Cp1251.h"
#include "FrameLogModel.h"
#include "LiveChart.h"
#include "Main.h"
#include "MainState.h"
#include "MemIniFile.h"
#include "ModalAnswerer.h"
#include "QtLanguage.h"
#include "TextGrid.h"
#include "TrendPlot.h"
#include "TrendViewer.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

namespace {

// The texts a person sees in a window: titles, captions, tool tips, list items, header
// and caption cells of grids, file filters, chart titles and legends. Values (a grid's
// numbers, a line's text, a file dialog's file names) are data, not captions.
class TextWalk {
public:
    explicit TextWalk(QWidget *root) {
        add(QStringLiteral("title"), root->windowTitle());
        for (QWidget *w : root->findChildren<QWidget *>())
            if (w->isVisibleTo(root) || qobject_cast<QMenu *>(w))
                widget(w);
        widget(root);
    }
    // "where: text" for every text found.
    QStringList texts;

private:
    void add(const QString &where, const QString &text) {
        if (!text.trimmed().isEmpty())
            texts << where + QStringLiteral(": ") + text;
    }
    bool inFileDialog(QWidget *w) const {
        for (QWidget *p = w; p; p = p->parentWidget())
            if (qobject_cast<QFileDialog *>(p))
                return true;
        return false;
    }
    void widget(QWidget *w) {
        const QString name = w->objectName().isEmpty()
                                 ? QString::fromLatin1(w->metaObject()->className())
                                 : w->objectName();
        add(name + QStringLiteral(" tip"), w->toolTip());
        if (auto *l = qobject_cast<QLabel *>(w))
            add(name, l->text());
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            add(name, b->text());
        if (auto *g = qobject_cast<QGroupBox *>(w))
            add(name, g->title());
        if (auto *e = qobject_cast<QLineEdit *>(w))
            add(name + QStringLiteral(" placeholder"), e->placeholderText());
        if (auto *m = qobject_cast<QPlainTextEdit *>(w))
            add(name, m->toPlainText());
        if (auto *t = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < t->count(); ++i)
                add(name + QStringLiteral(" tab"), t->tabText(i));
        if (auto *m = qobject_cast<QMenu *>(w))
            for (QAction *a : m->actions())
                add(name, a->text());
        if (auto *c = qobject_cast<QComboBox *>(w); c && !inFileDialog(w))
            for (int i = 0; i < c->count(); ++i)
                add(name + QStringLiteral(" item"), c->itemText(i));
        if (auto *f = qobject_cast<QFileDialog *>(w))
            for (const QString &filter : f->nameFilters())
                add(name + QStringLiteral(" filter"), filter);
        if (auto *v = qobject_cast<QAbstractItemView *>(w); v && !qobject_cast<QHeaderView *>(w))
            view(name, v); // a header shows its view's model
        if (auto *p = qobject_cast<QCustomPlot *>(w))
            plot(name, p);
    }
    void view(const QString &name, QAbstractItemView *v) {
        const QAbstractItemModel *m = v->model();
        if (!m)
            return;
        for (int c = 0; c < m->columnCount(); ++c)
            add(name + QStringLiteral(" header"), m->headerData(c, Qt::Horizontal).toString());
        if (auto *grid = qobject_cast<const TextGrid *>(m)) {
            // The fixed header row and column are the captions.
            for (int c = 0; c < grid->colCount(); ++c)
                add(name + QStringLiteral(" header cell"), grid->cell(c, 0));
            for (int r = 1; r < grid->rowCountGrid(); ++r)
                add(name + QStringLiteral(" row label"), grid->cell(0, r));
            return;
        }
        if (inFileDialog(v))
            return; // file and folder names
        // The frame log's texts and the lists of channels: every cell.
        for (int r = 0; r < m->rowCount(); ++r)
            for (int c = 0; c < m->columnCount(); ++c)
                add(name + QStringLiteral(" cell"), m->index(r, c).data().toString());
    }
    void plot(const QString &name, QCustomPlot *p) {
        for (QCPAxis *a : p->axisRect()->axes())
            add(name + QStringLiteral(" axis"), a->label());
        for (int i = 0; i < p->graphCount(); ++i)
            add(name + QStringLiteral(" graph"), p->graph(i)->name());
    }
};

bool HasCyrillic(const QString &text) {
    for (QChar c : text)
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
            return true;
    return false;
}

// English where a Russian text exists: a word of three Latin letters or more and no Russian
// letter. Names that have no Russian form are left: the program's name, the port names,
// the language buttons, the link timing fields named as the serial driver names them,
// the numbered boxes before a selection fills them, the export formats, hex frames and times, a
// controller in the events named by its port and address.
bool LooksEnglish(const QString &entry) {
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{3,}"));
    static const QRegularExpression untranslatable(QStringLiteral(
        R"(: (Velmaris [0-9.]+|COM\d+|EN|RU|PNG\.\.\.|CSV\.\.\.|Async Op|CTO|Send|Sleep|Receive|)"
        R"(Read\w*Timeout\w*|Write\w*Timeout\w*|CheckBox\d+|\S*\.(txt|ini)|/\S*( #\d+)?)$)"));
    const QString text = entry.section(QStringLiteral(": "), 1);
    return !HasCyrillic(text) && text.contains(word) && !untranslatable.match(entry).hasMatch();
}

// The simulator names its sensors "Камера N": the user's names of the sensors are data,
// shown as they were given in every language.
const QRegularExpression kSimulatorTag(QStringLiteral("Камера \\d+"));

} // namespace

class TestLanguage : public ControllerFolderTest {
    Q_OBJECT

    template <class T = QWidget> T *child(QWidget &w, const char *name) {
        T *c = w.findChild<T *>(QString::fromLatin1(name));
        if (!c)
            qWarning("no child %s", name);
        return c;
    }

    // A short trend file of two channels, as the recorder writes it (Windows-1251).
    static bool WriteTrendFile(const QString &path) {
        QString text = QStringLiteral("Дата\tВремя\tКанал 2\tКанал 5\t\r\nДата\tВремя\t\t\t\r\n");
        for (int r = 0; r < 20; ++r)
            text += QStringLiteral("06.12.26\t13:00:%1\t%2\t150\t\r\n")
                        .arg(r, 2, 10, QLatin1Char('0'))
                        .arg(200 + r);
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(Cp1251::encode(text)) > 0;
    }

    static QWidget *topLevel(const char *name) {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String(name) && w->isVisible())
                return w;
        return nullptr;
    }

private slots:
    // One window after another as a user opens them; every text of each is checked.
    void everyWindowSpeaksTheChosenLanguage_data() {
        QTest::addColumn<int>("startLang");
        QTest::addColumn<int>("lang");
        QTest::newRow("English from the start") << 1 << 1;
        QTest::newRow("English after a switch") << 0 << 1;
        QTest::newRow("Russian from the start") << 0 << 0;
        QTest::newRow("Russian after a switch") << 1 << 0;
    }
    void everyWindowSpeaksTheChosenLanguage() {
        QFETCH(int, startLang);
        QFETCH(int, lang);
        QVERIFY(CopyShippedData({"start.ini", "default.ini", "Cfg/qor7070__fw_1_2.ini"}));
        // Damaged answers now and then: the frame log holds failure texts.
        QVERIFY2(StartShippedSim(sim, {"--fault", "badcrc:every=7"}), qPrintable(sim.errorText()));
        {
            MemIniFile start("start.ini");
            start.writeString("connect", "port", sim.portSetting());
            start.writeInteger("language", "lang", startLang);
            QVERIFY(start.updateFile());
        }
        QDir().mkpath("Trends");
        QVERIFY(WriteTrendFile("Trends/06_12_26____13_00_00.txt"));
        const bool qtRussian = QFile::exists(QtTranslationFile(0));

        ModalAnswerer modal;
        modal.password("7593");
        TForm1 form;
        form.resize(1400, 900);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.state().linkUp, 10000);
        // The frame log, paused with failures in it: what it shows must follow a switch.
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonFrameLog"), Qt::LeftButton);
        QWidget *frameLog = topLevel("FrameLogView");
        QVERIFY(frameLog);
        auto *frames = child<QTableView>(*frameLog, "TableFrameLog");
        QVERIFY(frames);
        QTRY_VERIFY_WITH_TIMEOUT(
            frames->model()
                    ->match(frames->model()->index(0, 0), FrameLogModel::FailureRole, true)
                    .size() > 0,
            10000);
        QTest::mouseClick(child<QPushButton>(*frameLog, "ButtonFrameLogPause"), Qt::LeftButton);
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonLinkStatistics"), Qt::LeftButton);
        // The events view with the program's own events in it (started, identified).
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonEvents"), Qt::LeftButton);
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonChart"), Qt::LeftButton);
        // The trend viewer with a file.
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonTrendViewer"), Qt::LeftButton);
        auto *viewer = form.findChild<TrendViewer *>("TrendViewer");
        QVERIFY(viewer);
        QTRY_VERIFY(viewer->fileDialog() && viewer->fileDialog()->isVisible());
        viewer->fileDialog()->reject();
        QVERIFY(viewer->Load("Trends/06_12_26____13_00_00.txt"));
        // Recording: panel 1 and the group's hint name the file.
        QTest::mouseClick(child<QPushButton>(form, "ButtonStartFile"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!child<QLabel>(form, "StatusBar1Panel1")->text().isEmpty(), 30000);
        if (startLang != lang) {
            QTest::mouseClick(child<QToolButton>(form, lang == 1 ? "ToolButtonEngLanguage"
                                                                 : "ToolButtonRusLanguage"),
                              Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!form.state().identifyingAgain && form.state().linkUp, 10000);
        }
        // A cycle after the identification has labelled the live rows in this language.
        QTRY_COMPARE_WITH_TIMEOUT(form.state().sensorsData.cell(0, 1),
                                  form.state().Text(Msg::n32) + QStringLiteral(" 1"), 10000);
        // and the chart has drawn its lines since (it draws at most every two seconds).
        auto *chart = form.findChild<LiveChart *>("LiveChart");
        QVERIFY(chart);
        const int redraws = chart->redraws();
        QTRY_VERIFY_WITH_TIMEOUT(chart->redraws() > redraws, 10000);

        QStringList faults;
        auto check = [&](const QString &window, QWidget *root) {
            if (!root) {
                faults << window + QStringLiteral(": not found");
                return;
            }
            const QStringList texts = TextWalk(root).texts;
            if (qEnvironmentVariableIsSet("WALK_DUMP")) // every text found, to look at
                for (const QString &t : texts)
                    qInfo("%s / %s", qPrintable(window), qPrintable(t));
            if (texts.isEmpty())
                faults << window + QStringLiteral(": no texts found");
            for (const QString &t : texts) {
                const QString shown = QString(t).remove(kSimulatorTag);
                if (lang == 1 ? HasCyrillic(shown) : LooksEnglish(shown))
                    faults << window + QStringLiteral(" / ") + t;
            }
        };
        auto *pages = child<QTabWidget>(form, "PageControlQOR");
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            check(QStringLiteral("Form1 page %1").arg(i), &form);
        }
        pages->setCurrentIndex(0);
        check(QStringLiteral("FrameLogView"), frameLog);
        check(QStringLiteral("LinkStatisticsView"), topLevel("LinkStatisticsView"));
        check(QStringLiteral("EventsView"), topLevel("EventsView"));
        check(QStringLiteral("LiveChart"), child(form, "LiveChart"));
        check(QStringLiteral("Form3"), child(form, "Form3"));

        // Dialogs opened as a user opens them, each closed again.
        auto dialog = [&](const QString &window, const std::function<void()> &open,
                          const char *name) {
            open();
            QWidget *shown = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT(
                (shown = form.findChild<QWidget *>(QString::fromLatin1(name))) &&
                    shown->isVisible(),
                5000);
            check(window, shown);
            static_cast<QDialog *>(shown)->reject();
        };
        dialog(
            QStringLiteral("AboutDialog"),
            [&] { QTest::mouseClick(child<QToolButton>(form, "ToolButtonAbout"), Qt::LeftButton); },
            "AboutDialog");
        dialog(
            QStringLiteral("ConparDlg"),
            [&] { QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton); },
            "ConparDlg");
        dialog(
            QStringLiteral("MqttDialog"),
            [&] { QTest::mouseClick(child<QToolButton>(form, "ToolButtonMqtt"), Qt::LeftButton); },
            "MqttDialog");
        pages->setCurrentIndex(1);
        dialog(
            QStringLiteral("FormQorSelectSensors"),
            [&] {
                QTest::mouseClick(child<QPushButton>(form, "ButtonSelectSensors"), Qt::LeftButton);
            },
            "FormQorSelectSensors");
        dialog(
            QStringLiteral("OpenDialogTags"),
            [&] { child<QMenu>(form, "PopupMenuTags")->actions().constFirst()->trigger(); },
            "OpenDialogTags");
        pages->setCurrentIndex(0);
        dialog(
            QStringLiteral("OpenDialog1"),
            [&] {
                QTest::mouseClick(child<QToolButton>(form, "ToolButtonQorOpenProfile"),
                                  Qt::LeftButton);
            },
            "OpenDialog1");
        dialog(
            QStringLiteral("SaveDialog1"),
            [&] {
                QTest::mouseClick(child<QToolButton>(form, "ToolButtonQorSaveProfile"),
                                  Qt::LeftButton);
            },
            "SaveDialog1");

        // The trend viewer showing its file since before the switch, and its file dialog.
        viewer->RedrawNow();
        check(QStringLiteral("TrendViewer"), viewer);
        QTest::mouseClick(child<QPushButton>(*viewer, "ButtonTrendOpen"), Qt::LeftButton);
        QTRY_VERIFY(viewer->fileDialog()->isVisible());
        check(QStringLiteral("TrendFileDialog"), viewer->fileDialog());
        viewer->fileDialog()->reject();
        // Its range of the history.
        QTest::mouseClick(child<QPushButton>(*viewer, "ButtonTrendFromHistory"), Qt::LeftButton);
        QTRY_VERIFY(viewer->historyDialog() && viewer->historyDialog()->isVisible());
        check(QStringLiteral("HistoryRangeDialog"), viewer->historyDialog());
        viewer->historyDialog()->reject();

        // A message box the program opens: a refused module address in the connection
        // dialog. The answerer records its caption and text and closes it.
        QTest::mouseClick(child<QToolButton>(form, "ToolButton1"), Qt::LeftButton);
        auto *conpar = child<QDialog>(form, "ConparDlg");
        QTRY_VERIFY(conpar->isVisible());
        child<QLineEdit>(*conpar, "EditAdr")->setText("x");
        modal.messages.clear();
        QTest::mouseClick(child<QPushButton>(*conpar, "OKBtn"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(modal.messages.size(), qsizetype(1), 5000);
        for (const QString &m : std::as_const(modal.messages))
            if (lang == 1 ? HasCyrillic(m) : LooksEnglish(QStringLiteral("box: ") + m))
                faults << QStringLiteral("message box / ") + m;
        conpar->reject();

        if (lang == 0 && !qtRussian)
            qWarning("%s is missing: Qt's own texts were not checked in Russian",
                     qPrintable(QtTranslationFile(0)));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    // Qt's own buttons follow the program: Russian with Debian's translations installed.
    void qtTextsFollowTheLanguage() {
        if (!QFile::exists(QtTranslationFile(0)))
            QSKIP("Qt's Russian translation is not installed (qt6-translations-l10n)");
        QVERIFY(CopyShippedData({"start.ini", "default.ini"}));
        ModalAnswerer modal;
        modal.password(QString());
        TForm1 form;
        form.show();
        auto cancel = [] {
            QDialogButtonBox buttons(QDialogButtonBox::Cancel);
            return buttons.button(QDialogButtonBox::Cancel)->text();
        };
        QCOMPARE(cancel(), QStringLiteral("Отмена")); // the shipped start.ini is Russian
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonEngLanguage"), Qt::LeftButton);
        QCOMPARE(cancel(), QStringLiteral("Cancel"));
        QTest::mouseClick(child<QToolButton>(form, "ToolButtonRusLanguage"), Qt::LeftButton);
        QCOMPARE(cancel(), QStringLiteral("Отмена"));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
