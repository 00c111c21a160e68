#include "LookupText.h"
#include "Main.h"
#include "MainState.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// Answers the password dialog once it is up: the text is typed and OK (or Cancel) pressed.
void answerPassword(const QString &password, bool cancel = false)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QLatin1String("Form3"))
            return;
        timer->stop();
        timer->deleteLater();
        if (cancel) {
            QTest::mouseClick(modal->findChild<QPushButton *>("ButtonCancel"), Qt::LeftButton);
            return;
        }
        auto *edit = modal->findChild<QLineEdit *>("Edit1");
        QTest::keyClicks(edit, password);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    timer->start(10);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString previous;

    QString panel(QWidget &w, int i)
    {
        return w.findChild<QLabel *>(QStringLiteral("StatusBar1Panel%1").arg(i))->text();
    }

private slots:
    void init()
    {
        previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
    }
    void cleanup() { QDir::setCurrent(previous); }

    void startsWithNoFilesAndReportsThePortOnce()
    {
        TForm1 form;
        answerPassword("7593");
        form.show();
        QVERIFY(QFile::exists("default.ini"));
        QCOMPARE(QFile("default.ini").size(), 0);
        QVERIFY(!QFile::exists("start.ini")); // nothing is written that was not asked for
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Velmaris    150.724"));
        QObject *lamp = form.findChild<QObject *>("Shape1");
        QVERIFY(lamp);
        QCOMPARE(lamp->property("color").value<QColor>(), QColor(191, 205, 219));
        QCOMPARE(form.findChild<QToolButton *>("ToolButton1")->toolTip(),
                 QStringLiteral("Настройки связи программы"));
        QVERIFY(!form.findChild<QToolButton *>("ToolButton3")->isEnabled());
        QVERIFY(!form.findChild<QTabWidget *>("PageControlQOR")->isVisible());
        QVERIFY(form.findChild<QLabel *>("Label12")->isHidden());
        QTRY_COMPARE(panel(form, 0), QStringLiteral("Ошибка открытия порта"));
        // Later failures in a row stay silent.
        form.findChild<QLabel *>("StatusBar1Panel0")->setText("seen");
        QTest::qWait(2300);
        QCOMPARE(panel(form, 0), QStringLiteral("seen"));
        QCOMPARE(lamp->property("color").value<QColor>(), QColor(191, 205, 219));
        QVERIFY(!form.state().linkUp);
    }

    void closesPromptlyWhileThePollThreadSleeps()
    {
        auto *form = new TForm1;
        form->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<TForm1> alive(form);
        answerPassword({}, true);
        form->show();
        QTest::qWait(100); // the thread is asleep between connection attempts now
        QElapsedTimer t;
        t.start();
        form->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), 2000);
        QVERIFY(t.elapsed() < 900); // did not sit out the period
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
