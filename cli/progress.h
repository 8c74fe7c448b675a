// The progress line a sync keeps on standard error while it runs, when standard
// error is a terminal: records done of total, rate and time left, rewritten in
// place at most a few times a second.
#ifndef VUXOCLI_PROGRESS_H
#define VUXOCLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vuxocli {

class Progress {
  public:
    // Shows nothing unless `enabled` (the caller tells whether stderr is a terminal).
    Progress(std::FILE* out, bool enabled);
    void entries(uint32_t pages_done, uint32_t pages);
    void records(uint32_t done, uint32_t total);
    // Removes the line.
    void clear();

  private:
    void show(const std::string& text, bool force);

    std::FILE* out_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_;
};

// "  12/300 records  4.1/s  1:10 left": the line's text (tested on its own).
std::string progress_text(uint32_t done, uint32_t total, double seconds);

} // namespace vuxocli

#endif
