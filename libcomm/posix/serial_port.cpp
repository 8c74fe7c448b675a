// Serial ports (and USB instruments, which the kernel shows as serial ports):
// raw mode through termios, exclusive, low latency where the driver allows.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "comm.h"
#include "os_error.h"
#include "transport.h"

namespace comm {
namespace {

struct BaudEntry {
    int baud;
    speed_t code;
};

constexpr BaudEntry kBauds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {921600, B921600},
    {1000000, B1000000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool speed_code(int baud, speed_t* code) {
    for (const BaudEntry& e : kBauds) {
        if (e.baud == baud) {
            *code = e.code;
            return true;
        }
    }
    return false;
}

int configure(int fd, const SerialSettings& s) {
    speed_t speed;
    if (!speed_code(s.baud, &speed)) {
        return -COMM_EINVAL;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return os::last_error();
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
    constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[s.data_bits - 5] | CLOCAL | CREAD;
    if (s.stop_bits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    if (s.parity != 0) {
        tio.c_cflag |= PARENB | (s.parity == 1 ? PARODD : 0);
    }
    if (s.flow == 1) {
        tio.c_cflag |= CRTSCTS;
    }
    // Reads never block: the connection's thread polls before it reads.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return os::last_error();
    }
    return 0;
}

// A USB adapter otherwise holds short answers back for its latency timer
// (16 ms on common chips). Drivers without the setting refuse; that is fine.
void ask_low_latency(int fd) {
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &ss);
    }
}

int open_path(const std::string& path, const SerialSettings& s) {
    // O_NOCTTY keeps the instrument's port from becoming our controlling
    // terminal, so a stray hang-up cannot signal the process. O_NONBLOCK keeps
    // open from waiting for a carrier that a three-wire cable never raises.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return os::last_error();
    }
    // Both locks: flock keeps out every program that also locks (it works for
    // any user but only between cooperating programs); TIOCEXCL makes the
    // kernel refuse further opens of the tty even by programs that do not
    // lock, though root can still pass it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? COMM_EBUSY : os::from_errno(errno);
        ::close(fd);
        return -error;
    }
    ioctl(fd, TIOCEXCL);
    const int configured = configure(fd, s);
    if (configured != 0) {
        ::close(fd);
        return configured;
    }
    // Whatever the instrument sent before we listened belongs to no request.
    tcflush(fd, TCIFLUSH);
    ask_low_latency(fd);
    return fd;
}

os::Link serial_open(const ConnTarget& target, const os::Waker& stop) {
    (void)stop; // opening a tty does not wait
    std::string path;
    const int found = port_path(target, &path);
    return found != 0 ? found : open_path(path, target.serial);
}

std::ptrdiff_t serial_read(os::Link link, unsigned char* buf, std::size_t n) {
    const int fd = static_cast<int>(link);
    const ssize_t got = ::read(fd, buf, n);
    if (got > 0) {
        return got;
    }
    if (got < 0) {
        return os::last_error();
    }
    // A port set to return at once reads 0 bytes when it holds none; only a
    // hang-up (an unplugged adapter) is the end of the link.
    pollfd p{fd, POLLIN, 0};
    const bool hung_up = poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return hung_up ? -COMM_ENODEV : -COMM_EAGAIN;
}

std::ptrdiff_t serial_write(os::Link link, const unsigned char* buf, std::size_t n) {
    const ssize_t put = ::write(static_cast<int>(link), buf, n);
    return put >= 0 ? put : os::last_error();
}

void serial_close(os::Link link) {
    const int fd = static_cast<int>(link);
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

} // namespace

const Transport kSerialTransport = {"serial", serial_open, serial_read, serial_write, serial_close};

} // namespace comm
