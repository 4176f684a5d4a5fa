#pragma once

// One timer for all the lines of a process that read in batches of one period.

#include <QObject>
#include <QTimer>

#include <memory>

// The lines read at its tick: a process with many lines wakes up once a batch, not once for
// each line.
class Batch_clock : public QObject
{
    Q_OBJECT

public:
    // The clock of period `ms`, running while anyone holds it.
    static std::shared_ptr<Batch_clock> of(int ms);

    explicit Batch_clock(int ms);

signals:
    void tick();

private:
    QTimer timer;
};
