#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the tool opens the slave by its /dev/pts path like any
// serial device, and the test plays the box on the master side.
class Pty_pair
{
public:
    Pty_pair();
    ~Pty_pair();
    Pty_pair(const Pty_pair&) = delete;
    Pty_pair& operator=(const Pty_pair&) = delete;

    bool is_open() const { return master_fd >= 0; }

    QString slave_path() const { return path; }

    // Writes to the tool's side of the line.
    bool write(const QByteArray& bytes);
    // Everything the tool wrote, waiting up to `timeout_ms` for the first byte and
    // then collecting what follows within a short quiet gap; the event loop runs meanwhile.
    QByteArray read(int timeout_ms);
    // Closes the box's side, as when a USB adapter is pulled.
    void close_master();

private:
    int master_fd = -1;
    int slave_keepalive_fd = -1;
    QString path;
};
