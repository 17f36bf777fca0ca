// Model handling: the window adapts itself once to the model that the firmware numbers name.

#include "sensorpanel.h"
#include "ui_sensorpanel.h"

#include "sensorpanellog.h"

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QMessageBox>

void SensorPanel::Set_NodeFirmwareVersion(int nodeFwVer, int nodeFwRevisionVer)
{
    model = ModelProfile(nodeFwVer, nodeFwRevisionVer);
    for (const ModelProfile::Step &step : model.FormSteps())
        ApplyModelStep(step);
}

void SensorPanel::ApplyModelStep(const ModelProfile::Step &step)
{
    using Step = ModelProfile::Step;
    switch (step.kind) {
    case Step::RemoveTab:
        if (step.index < ui->tabWidget_SettingPannel->count())
            ui->tabWidget_SettingPannel->removeTab(step.index);
        return;
    case Step::Message: {
        QMessageBox box(QMessageBox::Information, windowTitle(), step.text, QMessageBox::Ok, this);
        box.exec();
        return;
    }
    case Step::OdrOff:
        ui->comboBox_IF_ODR->clear();
        ui->comboBox_IF_ODR->addItem(QStringLiteral("0"));
        ui->comboBox_IF_ODR->hide();
        ui->label_ODR_Unit->hide();
        ui->label_ODR_Title->hide();
        return;
    case Step::OdrList:
        ui->comboBox_IF_ODR->clear();
        for (int i = 0; ModelProfile::kOdrRates[i]; ++i)
            ui->comboBox_IF_ODR->addItem(QString::fromLatin1(ModelProfile::kOdrRates[i]));
        return;
    default: break;
    }

    QWidget *widget = findChild<QWidget *>(step.object);
    if (!widget) {
        qCWarning(lcNodeWindow) << "SensorPanel: the form has no widget" << step.object;
        return;
    }
    switch (step.kind) {
    case Step::Hide: widget->hide(); break;
    case Step::Show: widget->show(); break;
    case Step::Enable: widget->setEnabled(true); break;
    case Step::Disable: widget->setEnabled(false); break;
    case Step::SetText:
        if (auto *button = qobject_cast<QAbstractButton *>(widget))
            button->setText(step.text);
        break;
    default: break;
    }
}
