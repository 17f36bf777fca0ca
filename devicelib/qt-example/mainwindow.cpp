#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QSerialPortInfo>

#include <cmath>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    // This program is the host: records addressed to id 2 (and to everyone) come to it.
    link.Init(NP_ID_HOST_, &MainWindow::WriteFrame, &MainWindow::OnRecord, this);
    connect(&port, &QSerialPort::readyRead, this, &MainWindow::ReadPort);
    on_pushButton_Refresh_clicked();
}

MainWindow::~MainWindow() { delete ui; }

void MainWindow::on_pushButton_Refresh_clicked()
{
    ui->comboBox_Port->clear();
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ui->comboBox_Port->addItem(info.systemLocation());
}

void MainWindow::on_pushButton_Connect_clicked()
{
    if (port.isOpen()) {
        port.close();
        ui->pushButton_Connect->setText(tr("Connect"));
        ui->statusbar->showMessage(tr("Disconnected"));
        return;
    }
    // The combo box is editable: any device path may be typed in.
    port.setPortName(ui->comboBox_Port->currentText());
    port.setBaudRate(ui->comboBox_Baud->currentText().toInt());
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        ui->statusbar->showMessage(tr("Cannot open %1: %2").arg(port.portName(), port.errorString()));
        return;
    }
    ui->pushButton_Connect->setText(tr("Disconnect"));
    ui->statusbar->showMessage(tr("Connected to %1").arg(port.portName()));
}

void MainWindow::on_pushButton_Scan_clicked()
{
    nodes.clear();
    ui->listWidget_Nodes->clear();
    link.SendRequest(NP_ID_BROADCAST_, NP_CMD_ID_);
}

void MainWindow::on_listWidget_Nodes_currentRowChanged(int row)
{
    watched = row < 0 ? 0 : nodes.keys().value(row);
    ui->groupBox_Attitude->setTitle(watched ? tr("Attitude of node %1").arg(watched) : tr("Attitude"));
}

void MainWindow::ReadPort()
{
    const QByteArray bytes = port.readAll();
    link.Receive(reinterpret_cast<const uint8_t *>(bytes.constData()), bytes.size());
}

int MainWindow::WriteFrame(void *user, const uint8_t *frame, int frameSize)
{
    auto *window = static_cast<MainWindow *>(user);
    if (!window->port.isOpen())
        return NP_FAIL_;
    return window->port.write(reinterpret_cast<const char *>(frame), frameSize) == frameSize ? NP_SUCC_
                                                                                             : NP_FAIL_;
}

void MainWindow::OnRecord(void *user, const Np_Header &header, const uint8_t *payload, int size)
{
    static_cast<MainWindow *>(user)->HandleRecord(header, payload, size);
}

void MainWindow::HandleRecord(const Np_Header &header, const uint8_t *payload, int size)
{
    switch (header.cmd) {
    case NP_CMD_ID_: {
        Np_Id id;
        if (NimboObjectDictionary::Decode(payload, size, id) != NP_SUCC_)
            return;
        const QString name = QString::fromUtf8(id.name, int(qstrnlen(id.name, sizeof(id.name))));
        nodes.insert(id.nodeId, tr("%1  %2  (firmware %3.%4.%5)")
                                    .arg(id.nodeId)
                                    .arg(name)
                                    .arg(id.fwVersion[0])
                                    .arg(id.fwVersion[1])
                                    .arg(id.fwVersion[2]));
        ui->listWidget_Nodes->clear();
        ui->listWidget_Nodes->addItems(nodes.values());
        break;
    }
    case NP_CMD_RPY_: {
        Np_RPY rpy;
        if (header.fromId == watched && NimboObjectDictionary::Decode(payload, size, rpy) == NP_SUCC_)
            ShowAttitude(rpy.roll, rpy.pitch, rpy.yaw);
        break;
    }
    case NP_CMD_Q_S1_E_: {
        // Nodes that stream only quaternions: roll, pitch and yaw from the quaternion (q[0] scalar).
        Np_Q_s1_e q;
        if (header.fromId != watched || NimboObjectDictionary::Decode(payload, size, q) != NP_SUCC_)
            return;
        const double w = q.q[0], x = q.q[1], y = q.q[2], z = q.q[3];
        const double deg = 180.0 / 3.14159265358979323846;
        const double roll = std::atan2(2 * (w * x + y * z), 1 - 2 * (x * x + y * y)) * deg;
        const double pitch = std::asin(qBound(-1.0, 2 * (w * y - z * x), 1.0)) * deg;
        double yaw = std::atan2(2 * (w * z + x * y), 1 - 2 * (y * y + z * z)) * deg;
        if (yaw < 0)
            yaw += 360;
        ShowAttitude(float(roll), float(pitch), float(yaw));
        break;
    }
    default: break;
    }
}

void MainWindow::ShowAttitude(float roll, float pitch, float yaw)
{
    ui->label_Roll->setText(QString::number(roll, 'f', 1));
    ui->label_Pitch->setText(QString::number(pitch, 'f', 1));
    ui->label_Yaw->setText(QString::number(yaw, 'f', 1));
}
