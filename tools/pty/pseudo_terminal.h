#pragma once

// A raw pseudo-terminal pair: a program opens the slave by its /dev/pts path like any
// serial device, and whoever holds the master plays the other end of the line.

#include <QString>

class Pseudo_terminal
{
public:
    // Holding the slave open keeps the master readable while the program closes and
    // reopens its side; letting it go makes the master see a hang-up while nobody has it.
    enum class Slave { hold, release };

    explicit Pseudo_terminal(Slave slave = Slave::hold);
    ~Pseudo_terminal();
    Pseudo_terminal(const Pseudo_terminal&) = delete;
    Pseudo_terminal& operator=(const Pseudo_terminal&) = delete;

    bool is_open() const { return master_fd >= 0; }

    // Non-blocking, closed on exec.
    int master() const { return master_fd; }

    QString slave_path() const { return path; }

    // The held slave (-1 when released): its terminal settings are what the program set.
    int slave() const { return slave_fd; }

    // Closes the master, as when a USB adapter is pulled.
    void close_master();

private:
    int master_fd = -1;
    int slave_fd = -1;
    QString path;
};
