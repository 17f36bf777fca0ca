#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "nimboprofile.h"

#include <QMainWindow>
#include <QMap>
#include <QSerialPort>

namespace Ui {
class MainWindow;
}

// Opens a serial port, asks every node on the bus for its identity, lists the nodes that answer and
// shows the attitude that the chosen node streams.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_pushButton_Refresh_clicked();
    void on_pushButton_Connect_clicked();
    void on_pushButton_Scan_clicked();
    void on_listWidget_Nodes_currentRowChanged(int row);
    void ReadPort();

private:
    static int WriteFrame(void *user, const uint8_t *frame, int frameSize);
    static void OnRecord(void *user, const Np_Header &header, const uint8_t *payload, int size);
    void HandleRecord(const Np_Header &header, const uint8_t *payload, int size);
    void ShowAttitude(float roll, float pitch, float yaw);

    Ui::MainWindow *ui;
    QSerialPort port;
    NimboProfile link;
    QMap<uint16_t, QString> nodes; // node id -> shown text
    uint16_t watched = 0;
};

#endif // MAINWINDOW_H
