#pragma once

// The box on a real serial port, for a null-modem cable to the machine that runs the tool.

#include "line.h"

#include <QString>

class QSerialPort;

namespace boxsim {

class Serial_line : public Line
{
    Q_OBJECT
public:
    using Line::Line;

    // False, with `error` set, when the port cannot be opened.
    bool open(const QString& name, qint32 baud, QString& error);

    void write(const QByteArray& bytes) override;
    qint64 backlog() const override;

private:
    QSerialPort* port = nullptr;
};

} // namespace boxsim
