// The program in a German session (LANG=de_DE.UTF-8, set by the test command): a decimal comma is the
// locale's habit, yet every number the program writes or shows uses the point, and a typed comma is
// taken as one.

#include "childwidget.h"
#include "numberconventions.h"
#include "numberfield.h"
#include "recorder.h"
#include "sensorpanel.h"

#include <QLocale>
#include <QSignalSpy>
#include <QtTest>

#include <clocale>
#include <cstdio>

class tst_Locale : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordingsUseThePointWhateverTheLocale();
    void theProgramShowsThePoint();
};

void tst_Locale::initTestCase()
{
    // Without the locale the test would prove nothing: it fails instead of passing idly.
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", 1.5);
    QVERIFY2(QByteArray(text) == "1,5",
             qPrintable(QString("the C library is not in de_DE.UTF-8 (LC_NUMERIC %1): scripts/install-deps "
                                "generates it")
                            .arg(std::setlocale(LC_NUMERIC, nullptr))));
    QCOMPARE(QLocale::system().decimalPoint(), QChar(','));
}

void tst_Locale::recordingsUseThePointWhateverTheLocale()
{
    // Before the program's own conventions: the recorder must not depend on them.
    const double rpy[] = {1.5, -2.25, 0.125, 10.0};
    const QString row = Recorder::Row(*Recorder::Find("RPY"), rpy);
    QCOMPARE(row, QString("           1.500000,      -2.250000000,     0.125000000,    10.000000000; \r\n"));
    QVERIFY(!row.contains(QLatin1String(",5")));
}

void tst_Locale::theProgramShowsThePoint()
{
    ApplyNumberConventions();
    QCOMPARE(QLocale().decimalPoint(), QChar('.'));
    QCOMPARE(QLocale().toString(12345.5, 'f', 1), QString("12345.5")); // no group separator either
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", 1.5);
    QCOMPARE(QByteArray(text), QByteArray("1.5"));

    // A gain field shows the point, and a typed comma is the point.
    SensorPanel panel(40);
    panel.Set_NodeFirmwareVersion(318, 70);
    QSignalSpy writes(&panel, &SensorPanel::Sig_NewImuSetting);
    Np_Settings node{};
    node.fusionParamAcc = 210;
    node.odr = 100;
    panel.On_NewImuSettings(40, node);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    auto *gain = Child<NumberDoubleSpinBox>(&panel, "doubleSpinBox_Fusion_Param_Acc");
    QCOMPARE(gain->text(), QString("2.10"));
    gain->setFocus();
    gain->selectAll();
    QTest::keyClicks(gain, "1,75");
    QTest::keyClick(gain, Qt::Key_Return);
    QCOMPARE(writes.count(), 1);
    QCOMPARE(int(writes.last().at(1).value<Np_Settings>().fusionParamAcc), 175);
    QCOMPARE(gain->text(), QString("1.75"));
}

QTEST_MAIN(tst_Locale)
#include "tst_locale.moc"
