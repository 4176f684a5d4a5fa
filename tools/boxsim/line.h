#pragma once

// The line the simulated box talks on, whether a pseudo-terminal or a serial port.

#include <QByteArray>
#include <QObject>

namespace boxsim {

class Line : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void write(const QByteArray& bytes) = 0;
    // Bytes handed over but not yet on their way.
    virtual qint64 backlog() const = 0;

    virtual bool listening() const { return true; }

signals:
    void received(const QByteArray& bytes);
    void drained();
};

} // namespace boxsim
