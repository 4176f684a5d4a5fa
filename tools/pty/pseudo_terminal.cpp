// Opening a pseudo-terminal in raw mode at the line's 115200 baud.
#include "pseudo_terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

Pseudo_terminal::Pseudo_terminal(Slave slave)
{
    char name[256] = {};
    if (openpty(&master_fd, &slave_fd, name, nullptr, nullptr) != 0) {
        master_fd = slave_fd = -1;
        return;
    }
    // The mode belongs to the terminal, so it outlives the slave descriptor.
    termios mode{};
    tcgetattr(slave_fd, &mode);
    cfmakeraw(&mode);
    cfsetspeed(&mode, B115200);
    tcsetattr(slave_fd, TCSANOW, &mode);
    fcntl(master_fd, F_SETFL, fcntl(master_fd, F_GETFL) | O_NONBLOCK);
    fcntl(master_fd, F_SETFD, FD_CLOEXEC);
    fcntl(slave_fd, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
    if (slave == Slave::release) {
        ::close(slave_fd);
        slave_fd = -1;
    }
}

Pseudo_terminal::~Pseudo_terminal()
{
    close_master();
    if (slave_fd >= 0)
        ::close(slave_fd);
}

void Pseudo_terminal::close_master()
{
    if (master_fd >= 0) {
        ::close(master_fd);
        master_fd = -1;
    }
}
