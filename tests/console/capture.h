// A FILE* whose output a test reads back. A file of its own in the temporary
// folder rather than a memory stream, which only POSIX has, or tmpfile(), whose
// names collide between test processes run side by side on Windows. Opened in
// binary mode, so the bytes read back are the bytes written on every OS.
#ifndef VUXOTEST_CAPTURE_H
#define VUXOTEST_CAPTURE_H

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

class Capture {
  public:
    Capture() : path_(unique_path()), file_(std::fopen(path_.string().c_str(), "w+b")) {}
    ~Capture() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
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
    static std::filesystem::path unique_path() {
        std::random_device random;
        return std::filesystem::temp_directory_path() /
               ("vuxotest-capture-" + std::to_string(random()) + std::to_string(random()));
    }

    std::filesystem::path path_;
    std::FILE* file_;
};

#endif
