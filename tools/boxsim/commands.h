#pragma once

// The commands a person types on standard input while the box runs, one a line.

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <unistd.h>

namespace boxsim {

class Simulator;

class Commands : public QObject
{
    Q_OBJECT
public:
    // A child of `simulator`, which it commands.
    explicit Commands(Simulator* simulator);

private:
    void read_input();
    void obey(const QString& command);

    Simulator* simulator;
    QSocketNotifier* input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    QByteArray typed;
};

} // namespace boxsim
