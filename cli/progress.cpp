#include "progress.h"

namespace vuxocli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kInterval = std::chrono::milliseconds(100);

} // namespace

Progress::Progress(std::FILE* out, bool enabled)
    : out_(out), enabled_(enabled), start_(Clock::now()), last_(Clock::time_point()) {}

std::string progress_text(uint32_t done, uint32_t total, double seconds) {
    std::string text = std::to_string(done) + "/" + std::to_string(total) + " records";
    if (done > 0 && seconds > 0) {
        const double rate = done / seconds;
        const uint32_t rest = total > done ? total - done : 0;
        const long left = static_cast<long>(rest / rate + 0.5);
        char tail[64];
        std::snprintf(tail, sizeof tail, "  %.1f/s  %ld:%02ld left", rate, left / 60, left % 60);
        text += tail;
    }
    return text;
}

void Progress::entries(uint32_t pages_done, uint32_t pages) {
    show("entry list " + std::to_string(pages_done) + "/" + std::to_string(pages) + " pages",
         pages_done == pages);
}

void Progress::records(uint32_t done, uint32_t total) {
    if (done == 0) {
        start_ = Clock::now();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    show(progress_text(done, total, seconds), done == total);
}

void Progress::show(const std::string& text, bool force) {
    if (!enabled_) {
        return;
    }
    const auto now = Clock::now();
    if (!force && now - last_ < kInterval) {
        return;
    }
    last_ = now;
    // Carriage return and erase to the end of the line: one line, rewritten.
    std::fprintf(out_, "\r%s\033[K", text.c_str());
    std::fflush(out_);
    shown_ = true;
}

void Progress::clear() {
    if (shown_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

} // namespace vuxocli
