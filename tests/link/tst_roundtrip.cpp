// The round-trip estimate of a network link: how long an attempt waits for its answer and
// how long an answer given up on is still waited for, from the answers measured so far.
#include "RoundTrip.h"

#include <QTest>

class TestRoundTrip : public QObject {
    Q_OBJECT

private slots:
    void waitsFollowTheMeasuredRoundTrip_data()
    {
        QTest::addColumn<QList<int>>("samples"); // ms, in the order they were measured
        QTest::addColumn<int>("receive");
        QTest::addColumn<double>("srtt");
        QTest::addColumn<double>("rttvar");
        QTest::addColumn<int>("wait");

        // Nothing measured yet: the configured time-out.
        QTest::newRow("no answer yet") << QList<int>{} << 500 << 0.0 << 0.0 << 500;
        // The first answer sets SRTT and half of it as the spread: 400 + 4 × 200.
        QTest::newRow("first answer") << QList<int>{400} << 500 << 400.0 << 200.0 << 1200;
        // RTTVAR moves a quarter towards |SRTT - R| (before SRTT moves), SRTT an eighth
        // towards R: 3/4·200 + 1/4·200, 7/8·400 + 1/8·200.
        QTest::newRow("second answer") << QList<int>{400, 200} << 500 << 375.0 << 200.0 << 1175;
        // A late answer lengthens the wait at once: 1/4·|375 - 1375| on the spread.
        QTest::newRow("a late answer") << QList<int>{400, 200, 1375} << 500 << 500.0 << 400.0
                                       << 2100;
        // A fast link never waits less than receive.
        QTest::newRow("fast link, floor at receive")
            << QList<int>(40, 5) << 500 << 5.0 << 0.0 << 500;
        // Steady answers: the spread dies away, the wait keeps one timer tick above SRTT.
        QTest::newRow("steady 1000 ms") << QList<int>(60, 1000) << 100 << 1000.0 << 0.0 << 1010;
        // One absurd answer does not make the wait absurd.
        QTest::newRow("clamped at the ceiling")
            << QList<int>{60000} << 500 << 60000.0 << 30000.0 << RoundTrip::MaxWaitMs;
        // A receive time-out above the ceiling still holds.
        QTest::newRow("receive above the ceiling")
            << QList<int>{60000} << 20000 << 60000.0 << 30000.0 << 20000;
        // A clock that went backwards counts as an instant answer.
        QTest::newRow("negative sample") << QList<int>{-50} << 300 << 0.0 << 0.0 << 300;
    }
    void waitsFollowTheMeasuredRoundTrip()
    {
        QFETCH(QList<int>, samples);
        QFETCH(int, receive);
        QFETCH(double, srtt);
        QFETCH(double, rttvar);
        QFETCH(int, wait);
        RoundTrip rt;
        for (int ms : samples)
            rt.Sample(ms);
        QCOMPARE(rt.Measured(), !samples.isEmpty());
        QVERIFY2(qAbs(rt.Srtt() - srtt) < 0.5, qPrintable(QString::number(rt.Srtt())));
        QVERIFY2(qAbs(rt.Rttvar() - rttvar) < 0.5, qPrintable(QString::number(rt.Rttvar())));
        QCOMPARE(rt.AnswerWaitMs(receive), wait);
        // An answer given up on is drained for twice the wait.
        QCOMPARE(rt.LateBoundMs(receive), 2 * wait);
    }

    // Another place (a new port setting) starts from nothing again.
    void resetForgetsTheEstimate()
    {
        RoundTrip rt;
        rt.Sample(700);
        QVERIFY(rt.AnswerWaitMs(500) > 500);
        rt.Reset();
        QVERIFY(!rt.Measured());
        QCOMPARE(rt.AnswerWaitMs(500), 500);
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "tst_roundtrip.moc"
