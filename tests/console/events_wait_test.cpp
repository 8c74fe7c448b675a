// The console's wait for a new record: a record reported before the wait is not
// taken for a new one. Over a pipe, so POSIX only.
#include <gtest/gtest.h>

#include "events.h"

#include <future>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// Reads from fd until `text` has arrived; false after 20 s.
bool read_until(int fd, const std::string& text) {
    std::string got;
    pollfd pfd{fd, POLLIN, 0};
    while (got.find(text) == std::string::npos) {
        char buf[256];
        if (poll(&pfd, 1, 20000) <= 0) {
            return false;
        }
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) {
            return false;
        }
        got.append(buf, static_cast<std::size_t>(n));
    }
    return true;
}

TEST(Events, EventBeforeTheWaitIsForgotten) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::FILE* out = fdopen(fds[1], "w");
    vuxotest::last_meas_index.store(5); // reported during the log download
    auto waiting =
        std::async(std::launch::async, [out] { return vuxotest::wait_for_new_record(out); });
    const bool announced = read_until(fds[0], "\n\nWaiting for new record...\n");
    EXPECT_TRUE(announced);
    // Once the line is out, the stale index must be gone.
    EXPECT_EQ(vuxotest::last_meas_index.load(), -1);
    vuxotest::event_live_data(4, nullptr, 256, 9, 0, 0, nullptr);
    if (waiting.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the wait did not end on a new event";
        vuxotest::last_meas_index.store(0); // let the waiting thread go
    }
    EXPECT_EQ(waiting.get(), 9);
    std::fclose(out);
    close(fds[0]);
}

} // namespace
