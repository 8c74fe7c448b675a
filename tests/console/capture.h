// A FILE* whose output a test reads back. A temporary file rather than a memory
// stream, which only POSIX has; opened in binary mode, so the bytes read back are
// the bytes written on every OS.
#ifndef VUXOTEST_CAPTURE_H
#define VUXOTEST_CAPTURE_H

#include <cstdio>
#include <string>

class Capture {
  public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() { std::fclose(file_); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* file() { return file_; }
    // Everything written so far; later writes go on at the end.
    std::string text() {
        std::string out;
        std::rewind(file_);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file_)) > 0;) {
            out.append(buf, n);
        }
        std::fseek(file_, 0, SEEK_END);
        return out;
    }

  private:
    std::FILE* file_;
};

#endif
