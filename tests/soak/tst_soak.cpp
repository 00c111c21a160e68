// The short fault soak: 2,000 transactions of the poll engine against a simulator that
// strikes every fault kind at 5 %, paced and unpaced. No cell ever shows another
// register's or another sensor's value, and the engine is back online with fresh values
// once the faults stop.
#include "Soak.h"

#include <QTest>

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void faultsNeverMisplaceAValue_data()
    {
        QTest::addColumn<bool>("paced");
        QTest::newRow("paced 115200") << true;
        QTest::newRow("unpaced") << false;
    }
    void faultsNeverMisplaceAValue()
    {
        QFETCH(bool, paced);
        SoakOptions o;
        o.transactions = 2000;
        o.paced = paced;
        const SoakResult r = RunSoak(o);
        QVERIFY2(r.started && r.error.isEmpty(), qPrintable(r.error));
        qInfo("%d transactions, %d faults, %d cycles, %lld cells checked, %d misplaced, %d link-downs, "
              "back online after %d ms, %.1f s",
              r.transactions, r.faults, r.cycles, r.cellsChecked, r.misplaced, r.linkDowns, r.recoveryMs,
              r.seconds);
        QVERIFY2(r.misplaced == 0, qPrintable(r.firstMisplaced));
        QVERIFY(r.faults >= r.transactions / 20); // the faults did strike
        QVERIFY(r.cycles > r.transactions / 20);
        QVERIFY(r.recovered);
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
