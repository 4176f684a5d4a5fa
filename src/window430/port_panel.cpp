// The "Serial Port" box of the model-430 window: which port the tool talks through.
#include "mainwindow.h"

#include "port_list.h"
#include "serial_port.h"
#include "ui_mainwindow.h"

#include <QComboBox>

void MainWindow::select_default_baud_rate()
{
    serial_port->set_baud_rate(port_list::select_line_rate(ui->comboBox_BaudRate));
}

void MainWindow::open_selected_port()
{
    port_list::reopen(serial_port, ui->comboBox_SerialPort, ui->comboBox_BaudRate);
}

// Clearing and refilling the list runs slot_PortName_change through the index
// signal, so a rescan ends with the first listed port open.
void MainWindow::check_uart_available_ports(bool)
{
    ui->comboBox_SerialPort->clear();
    port_list::fill_port_names(ui->comboBox_SerialPort, port_path);
}

void MainWindow::slot_PortName_change(int)
{
    const QString name = ui->comboBox_SerialPort->currentText();
    open_selected_port();
    if (!name.isEmpty())
        settings_write();
}

void MainWindow::slot_PortName_change_from_index(int index)
{
    ui->comboBox_SerialPort->setCurrentIndex(index);
    open_selected_port();
    if (!ui->comboBox_SerialPort->currentText().isEmpty())
        settings_write();
}

void MainWindow::slot_BaudRate_change(int)
{
    serial_port->set_baud_rate(port_list::current_rate(ui->comboBox_BaudRate));
    settings_write();
}
