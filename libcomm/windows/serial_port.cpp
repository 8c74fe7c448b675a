// Serial ports (and USB instruments, which Windows shows as COM ports). One
// overlapped read is always pending, with an interval time-out of 1 ms and no
// total time-out: it stays pending through silence and completes shortly
// after bytes arrive, on Windows and under Wine alike. A read that ends with
// ERROR_TIMEOUT carries no bytes; any other read error means the link is gone
// (drivers report an unplugged adapter in several ways).

#include <algorithm>
#include <cstring>
#include <string>

#include "comm.h"
#include "os_error.h"
#include "transport.h"
#include "win_link.h"

namespace comm {
namespace {

constexpr DWORD kReadSize = 4096;
constexpr DWORD kWriteWaitMs = 5000;

// "COM3" and "\\.\COM3" both open as "\\.\COM3" (ports above COM9 need it).
std::wstring device_name(const std::string& path) {
    std::string name = path.rfind("\\\\.\\", 0) == 0 ? path : "\\\\.\\" + path;
    return std::wstring(name.begin(), name.end());
}

int configure(HANDLE port, const SerialSettings& s) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        return os::last_error();
    }
    dcb.BaudRate = static_cast<DWORD>(s.baud);
    dcb.ByteSize = static_cast<BYTE>(s.data_bits);
    dcb.StopBits = s.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.Parity = s.parity == 0 ? NOPARITY : (s.parity == 1 ? ODDPARITY : EVENPARITY);
    dcb.fParity = s.parity != 0;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = s.flow == 1;
    dcb.fRtsControl = s.flow == 1 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb)) {
        return os::last_error();
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    if (!SetCommTimeouts(port, &timeouts)) {
        return os::last_error();
    }
    // Whatever the instrument sent before we listened belongs to no request.
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    return 0;
}

class SerialLink final : public os::WinLink {
  public:
    explicit SerialLink(HANDLE port) : port_(port) {
        read_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~SerialLink() override {
        CancelIoEx(port_, nullptr);
        if (pending_) {
            DWORD ignored = 0;
            GetOverlappedResult(port_, &read_, &ignored, TRUE);
        }
        CloseHandle(port_);
        CloseHandle(read_.hEvent);
        CloseHandle(write_.hEvent);
    }
    bool ready() const { return read_.hEvent != nullptr && write_.hEvent != nullptr; }
    HANDLE ready_event() const override { return read_.hEvent; }

    // Starts the read that stays pending: 0, or the link's error.
    int start_read() {
        ResetEvent(read_.hEvent);
        held_ = 0;
        taken_ = 0;
        if (ReadFile(port_, buf_, kReadSize, nullptr, &read_)) {
            pending_ = true; // done at once: the event is set, the result waits
            return 0;
        }
        const DWORD error = GetLastError();
        pending_ = error == ERROR_IO_PENDING;
        return pending_ ? 0 : -os::from_win32(error);
    }

    std::ptrdiff_t read(unsigned char* buf, std::size_t n) override {
        if (held_ == taken_) {
            const int collected = collect();
            if (collected != 0) {
                return collected;
            }
        }
        const std::size_t count = std::min<std::size_t>(n, held_ - taken_);
        std::memcpy(buf, buf_ + taken_, count);
        taken_ += static_cast<DWORD>(count);
        if (taken_ == held_) {
            if (const int started = start_read(); started != 0) {
                return count > 0 ? static_cast<std::ptrdiff_t>(count) : started;
            }
        }
        return static_cast<std::ptrdiff_t>(count);
    }

    std::ptrdiff_t write(const unsigned char* buf, std::size_t n) override {
        ResetEvent(write_.hEvent);
        DWORD put = 0;
        if (!WriteFile(port_, buf, static_cast<DWORD>(n), nullptr, &write_) &&
            GetLastError() != ERROR_IO_PENDING) {
            return os::last_error();
        }
        if (WaitForSingleObject(write_.hEvent, kWriteWaitMs) != WAIT_OBJECT_0) {
            CancelIoEx(port_, &write_);
            GetOverlappedResult(port_, &write_, &put, TRUE);
            return put > 0 ? static_cast<std::ptrdiff_t>(put) : -COMM_ETIMEDOUT;
        }
        if (!GetOverlappedResult(port_, &write_, &put, FALSE)) {
            return os::last_error();
        }
        return static_cast<std::ptrdiff_t>(put);
    }

    int wait_writable(HANDLE stop, int timeout_ms) override {
        (void)stop;
        (void)timeout_ms;
        return 0; // a write waits for itself
    }

  private:
    // The pending read's result: 0 with bytes held, -COMM_EAGAIN, or the
    // link's error.
    int collect() {
        if (!pending_) {
            const int started = start_read();
            return started != 0 ? started : -COMM_EAGAIN;
        }
        DWORD got = 0;
        if (!GetOverlappedResult(port_, &read_, &got, FALSE)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_INCOMPLETE) {
                return -COMM_EAGAIN;
            }
            pending_ = false;
            if (error != ERROR_TIMEOUT) {
                return -COMM_ENODEV;
            }
            got = 0;
        }
        pending_ = false;
        if (got == 0) {
            const int started = start_read();
            return started != 0 ? started : -COMM_EAGAIN;
        }
        held_ = got;
        taken_ = 0;
        return 0;
    }

    HANDLE port_;
    OVERLAPPED read_{};
    OVERLAPPED write_{};
    bool pending_ = false;
    unsigned char buf_[kReadSize];
    DWORD held_ = 0;
    DWORD taken_ = 0;
};

os::Link open_path(const std::string& path, const SerialSettings& s) {
    // No sharing: Windows refuses a second open of the port.
    HANDLE port = CreateFileW(device_name(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return os::last_error();
    }
    if (const int configured = configure(port, s); configured != 0) {
        CloseHandle(port);
        return configured;
    }
    auto* link = new SerialLink(port);
    const int started = link->ready() ? link->start_read() : -COMM_ENOMEM;
    if (started != 0) {
        delete link;
        return started;
    }
    return os::as_link(link);
}

os::Link serial_open(const ConnTarget& target, const os::Waker& stop) {
    (void)stop; // opening a port does not wait
    std::string path;
    const int found = port_path(target, &path);
    return found != 0 ? found : open_path(path, target.serial);
}

} // namespace

const Transport kSerialTransport = {"serial", serial_open, os::link_read, os::link_write,
                                    os::link_close};

} // namespace comm
