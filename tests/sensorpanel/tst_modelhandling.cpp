#include "childwidget.h"
#include "messageboxcatcher.h"
#include "sensorpanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>
#include <QtTest>

namespace {

QString Tabs(SensorPanel *panel)
{
    auto *tabs = Child<QTabWidget>(panel, "tabWidget_SettingPannel");
    QStringList names;
    for (int i = 0; i < tabs->count(); ++i)
        names << tabs->tabText(i);
    return names.join(',');
}

QString Rates(SensorPanel *panel)
{
    auto *odr = Child<QComboBox>(panel, "comboBox_IF_ODR");
    QStringList rates;
    for (int i = 0; i < odr->count(); ++i)
        rates << odr->itemText(i);
    return (ExplicitlyHidden(odr) ? "hidden:" : "") + rates.join(',');
}

QString Interfaces(SensorPanel *panel)
{
    QStringList labels;
    for (const char *name : {"checkBox_En_IF_UART1", "checkBox_En_IF_USB_UART2", "checkBox_En_IF_CANbus1"}) {
        auto *box = Child<QCheckBox>(panel, name);
        labels << box->text() + (box->isEnabled() ? "" : "(off)");
    }
    return labels.join('|');
}

} // namespace

// The node window adapts itself to the model its firmware numbers name: one row of the model table
// per case, then the rule for revisions 8 and 9.
class tst_ModelHandling : public QObject
{
    Q_OBJECT

private slots:
    void derivedValues_data();
    void derivedValues();
    void modelTable_data();
    void modelTable();
};

void tst_ModelHandling::derivedValues_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QList<int>>("derived"); // family, variant, sub-variant, minor version

    QTest::newRow("old single number") << 45 << 3 << QList<int>{0, 0, 3, 45};
    QTest::newRow("current generation") << 318 << 70 << QList<int>{3, 6, 0, 18};
    QTest::newRow("combined output") << 512 << 11 << QList<int>{5, 0, 1, 12};
    // Below 10 the variant wraps as an unsigned number: no model row knows it.
    QTest::newRow("revision below 10") << 318 << 8 << QList<int>{3, int(0xFFFFFFFEu / 10u), 8, 18};
}

void tst_ModelHandling::derivedValues()
{
    QFETCH(int, version);
    QFETCH(int, revision);
    QFETCH(QList<int>, derived);
    const ModelProfile model(version, revision);
    QCOMPARE((QList<int>{model.Family(), model.Variant(), model.SubVariant(), model.MinorVersion()}),
             derived);
}

void tst_ModelHandling::modelTable_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("tabs");
    QTest::addColumn<QString>("rates");
    QTest::addColumn<QString>("interfaces");
    QTest::addColumn<QString>("message"); // the start of the text, or empty
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("hidden");
    QTest::addColumn<QStringList>("disabled");

    const QString sevenRates = "200,100,50,25,10,5,1";
    const QStringList filter{"checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter", "line_GyroErrFilter_1",
                             "line_GyroErrFilter_2", "line_GyroErrFilter_3"};
    const QStringList inhibit{"spinBox_IF_InhititTime", "label_InhibitTime_Title", "label_InhibitTime_Unit"};

    QTest::newRow("0: below 40") << 31 << 0 << "Gyro"
                                 << "hidden:0"
                                 << "UART 1|USB / UART 2|CAN Bus"
                                 << "" << QStringList{"comboBox_Serial_UART1_Baudrate"}
                                 << (filter + QStringList{"groupBox_CalibForce",
                                                          "comboBox_Serial_CAN1_Baudrate",
                                                          "checkBox_Output_Combo", "checkBox_Apply_CalibT"})
                                 << QStringList{"spinBox_IF_SilentTime"};
    QTest::newRow("0: 40..50") << 45 << 0 << "Gyro,Thermal"
                               << "hidden:0"
                               << "UART 1|USB / UART 2|CAN Bus"
                               << "" << (filter + QStringList{"checkBox_Apply_CalibT"})
                               << QStringList{"groupBox_CalibForce", "comboBox_Serial_CAN1_Baudrate",
                                              "checkBox_Output_Combo"}
                               << QStringList{};
    QTest::newRow("0: 51..60") << 55 << 0 << "Gyro,Thermal"
                               << "hidden:0"
                               << "UART 1|USB / UART 2|CAN Bus"
                               << ""
                               << (filter + QStringList{"checkBox_Apply_CalibT",
                                                        "comboBox_Serial_CAN1_Baudrate",
                                                        "groupBox_CalibForce"})
                               << QStringList{"checkBox_Output_Combo"} << QStringList{};
    QTest::newRow("0: 61..99 unknown")
        << 75 << 0 << "Gyro"
        << ""
        << "UART 1|USB / UART 2|CAN Bus"
        << "Unknown device KTxxx." << QStringList{}
        << QStringList{"groupBox_CalibForce", "checkBox_Output_Combo"} << QStringList{};
    QTest::newRow("1: variant 0") << 120 << 10 << "Gyro"
                                  << "hidden:0"
                                  << "UART 1|Reserved(off)|Reserved(off)"
                                  << "" << (filter + QStringList{"comboBox_Serial_UART1_Baudrate_Dummy"})
                                  << QStringList{"dial_Fusion_Param_Acc",
                                                 "doubleSpinBox_Fusion_Param_Acc",
                                                 "comboBox_Serial_UART2_Baudrate",
                                                 "comboBox_Serial_UART1_Baudrate",
                                                 "comboBox_Serial_CAN1_Baudrate",
                                                 "groupBox_CalibForce"}
                                  << QStringList{"dial_Fusion_Param_Acc"};
    QTest::newRow("1: variant 3") << 120 << 41 << "Gyro"
                                  << "hidden:0"
                                  << "UART|USB|Reserved(off)"
                                  << "" << (filter + QStringList{"dial_Fusion_Param_Acc"})
                                  << QStringList{"comboBox_Serial_UART2_Baudrate"}
                                  << QStringList{"checkBox_Output_Euler_S1_E",
                                                 "checkBoxd_Fusion_Param_Mag_Enable_SAFilter"};
    QTest::newRow("1: unknown variant")
        << 120 << 20 << "Gyro"
        << "hidden:0"
        << "UART 1|USB / UART 2|CAN Bus"
        << "Unknown device KT1xx." << QStringList{}
        << QStringList{"comboBox_Serial_UART1_Baudrate", "checkBox_Output_Combo"} << QStringList{};
    QTest::newRow("2: variant 0") << 230 << 10 << "Gyro"
                                  << "hidden:0"
                                  << "UART 1|Reserved(off)|Reserved(off)"
                                  << "" << filter << QStringList{"comboBox_Serial_UART1_Baudrate"}
                                  << QStringList{};
    QTest::newRow("2: variant 1") << 230 << 22 << "Gyro"
                                  << "hidden:0"
                                  << "UART 1|USB 2.0|Reserved(off)"
                                  << "" << filter << QStringList{"comboBox_Serial_CAN1_Baudrate"}
                                  << QStringList{};
    QTest::newRow("2: unknown variant")
        << 230 << 35 << "Gyro"
        << "hidden:0"
        << "UART 1|USB / UART 2|Reserved(off)"
        << "Unknown device KT2xx." << filter << QStringList{} << QStringList{};
    QTest::newRow("3: variant 6")
        << 318 << 70 << "Gyro,Magnetometer,Heading" << sevenRates << "RS422|USB 2.0|CAN 2.0B"
        << ""
        << (filter + QStringList{"pushButton_OpenClose_SNO_ProfilePanel", "pushButton_OpenClose_CanPannel",
                                 "groupBox_CalibForce"})
        << (inhibit + QStringList{"checkBox_Output_Combo", "comboBox_Serial_CAN1_Baudrate"}) << QStringList{};
    QTest::newRow("3: unknown variant")
        << 318 << 20 << "Gyro" << sevenRates << "RS422|USB 2.0|CAN 2.0B"
        << "Unknown device KTxxx." << QStringList{"pushButton_OpenClose_CanPannel"}
        << (inhibit + QStringList{"groupBox_CalibForce"}) << QStringList{};
    QTest::newRow("5: combined output")
        << 512 << 11 << "Gyro,Heading" << sevenRates << "RS422|USB 2.0|CAN 2.0B(off)"
        << ""
        << QStringList{"checkBox_Output_Combo", "line_Output_Combo_1", "line_Output_Combo_2",
                       "checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter"}
        << (inhibit + QStringList{"groupBox_CalibCompass_QuickHeadingFix_Auto", "label_Calib_Heading_Notes",
                                  "line_belowComposeOutput", "pushButton_OpenClose_CanPannel",
                                  "checkBox_En_Sensor_Acc", "checkBox_En_Sensor_Mag", "dial_Fusion_Param_Mag",
                                  "checkBoxd_Fusion_Param_Mag_Enable_SAFilter"})
        << QStringList{"checkBoxd_Fusion_Param_Gyro_Enable_GyroErrFilter", "checkBox_Output_Gravity",
                       "checkBox_Output_Euler_S1_E", "checkBox_Output_RawData_DispInXYMode"};
    QTest::newRow("5: variant 0, other sub-variant")
        << 512 << 13 << "Gyro,Magnetometer,Heading" << sevenRates << "RS422|USB 2.0|CAN 2.0B"
        << "" << QStringList{"pushButton_OpenClose_CanPannel"} << QStringList{"checkBox_Output_Combo"}
        << QStringList{};
    QTest::newRow("5: variant 1") << 512 << 20 << "Gyro,Magnetometer,Heading" << sevenRates
                                  << "RS422|USB 2.0|CAN 2.0B"
                                  << "" << QStringList{"pushButton_OpenClose_SNO_ProfilePanel"} << inhibit
                                  << QStringList{};
    QTest::newRow("5: unknown variant")
        << 512 << 40 << "Gyro" << sevenRates << "RS422|USB 2.0|CAN 2.0B"
        << "Unknown device KTxxx." << QStringList{} << QStringList{"groupBox_CalibForce"} << QStringList{};
    // Families without a row: only the calibration is reduced.
    QTest::newRow("4: unknown family") << 412 << 70 << "Gyro"
                                       << ""
                                       << "UART 1|USB / UART 2|CAN Bus"
                                       << "Unknown device KTxxx." << QStringList{"spinBox_IF_InhititTime"}
                                       << QStringList{"pushButton_OpenClose_CanPannel"} << QStringList{};
    QTest::newRow("7: unknown family")
        << 700 << 70 << "Gyro"
        << ""
        << "UART 1|USB / UART 2|CAN Bus"
        << "Unknown device KTxxx." << QStringList{} << QStringList{} << QStringList{};
    // Revisions 8 and 9 have no manual heading fix, whatever the family.
    QTest::newRow("revision 8") << 318 << 8 << "Gyro" << sevenRates << "RS422|USB 2.0|CAN 2.0B"
                                << "Unknown device KTxxx." << QStringList{}
                                << QStringList{"groupBox_CalibCompass_QuickHeadingFix_Manual",
                                               "line_CalibCompass_QuickHeadingFix_OneClick"}
                                << QStringList{};
    QTest::newRow("revision 9, family 0") << 45 << 9 << "Gyro,Thermal"
                                          << "hidden:0"
                                          << "UART 1|USB / UART 2|CAN Bus"
                                          << "" << QStringList{}
                                          << QStringList{"groupBox_CalibCompass_QuickHeadingFix_Manual",
                                                         "line_CalibCompass_QuickHeadingFix_OneClick"}
                                          << QStringList{};
}

void tst_ModelHandling::modelTable()
{
    QFETCH(int, version);
    QFETCH(int, revision);
    QFETCH(QString, tabs);
    QFETCH(QString, rates);
    QFETCH(QString, interfaces);
    QFETCH(QString, message);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, hidden);
    QFETCH(QStringList, disabled);

    MessageBoxCatcher boxes;
    SensorPanel panel(40);
    panel.Set_NodeFirmwareVersion(version, revision);

    QCOMPARE(Tabs(&panel), tabs);
    QCOMPARE(Rates(&panel), rates);
    QCOMPARE(Interfaces(&panel), interfaces);
    if (message.isEmpty()) {
        QCOMPARE(boxes.Count(), 0);
    } else {
        QCOMPARE(boxes.Count(), 1);
        QVERIFY2(boxes.Last().text.startsWith(message), qPrintable(boxes.Last().text));
        QVERIFY(boxes.Last().text.endsWith("correctly connect and configure the connected Kinetra model."));
        QCOMPARE(boxes.Last().icon, QMessageBox::Information);
    }
    for (const QString &name : shown)
        QVERIFY2(!ExplicitlyHidden(Child<QWidget>(&panel, qPrintable(name))), qPrintable(name + " hidden"));
    for (const QString &name : hidden)
        QVERIFY2(ExplicitlyHidden(Child<QWidget>(&panel, qPrintable(name))), qPrintable(name + " shown"));
    for (const QString &name : disabled)
        QVERIFY2(!Child<QWidget>(&panel, qPrintable(name))->isEnabled(), qPrintable(name + " enabled"));
}

QTEST_MAIN(tst_ModelHandling)
#include "tst_modelhandling.moc"
