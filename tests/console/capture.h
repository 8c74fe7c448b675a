// A FILE* whose output a test reads back.
#ifndef VUXOTEST_CAPTURE_H
#define VUXOTEST_CAPTURE_H

#include <cstdio>
#include <cstdlib>
#include <string>

class Capture {
  public:
    Capture() : file_(open_memstream(&buf_, &size_)) {}
    ~Capture() {
        std::fclose(file_);
        std::free(buf_);
    }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::FILE* file() { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(buf_, size_);
    }

  private:
    char* buf_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

#endif
