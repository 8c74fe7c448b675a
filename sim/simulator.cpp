#include "simulator.h"

#include "le.h"
#include "sim_pty.h"
#include "sim_server.h"

namespace vuxo::sim {

std::vector<unsigned char> live_data_frame(int32_t code, int32_t value, float a, float b) {
    std::vector<unsigned char> payload(16);
    store_le<int32_t>(payload.data(), code);
    store_le<int32_t>(payload.data() + 4, value);
    store_le<float>(payload.data() + 8, a);
    store_le<float>(payload.data() + 12, b);
    return make_frame(kMsgLiveData, 0, 0, payload);
}

Simulator::Simulator(const Config& config) : impl_(std::make_unique<Impl>(config)) {}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(std::string* error) {
    std::string local;
    std::string& err = error != nullptr ? *error : local;
    Impl& s = *impl_;
    if (s.started) {
        err = "already started";
        return false;
    }
    s.wake.close();
    if (!s.wake.open()) {
        err = "cannot make the waker";
        return false;
    }
    if (s.cfg.link == LinkKind::tcp) {
        s.listener = open_listener(s.cfg.port, &s.bound_port, &err);
        if (!s.listener.valid()) {
            return false;
        }
    } else {
        s.pty = open_pty(&s.pty_name, &err);
        if (!s.pty.valid()) {
            return false;
        }
    }
    if (!s.cfg.log_path.empty()) {
        s.log = open_log(s.cfg.log_path);
        if (s.log == nullptr) {
            err = "cannot open " + s.cfg.log_path;
            return false;
        }
    }
    s.stop_flag.store(false);
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.stopping = false;
    }
    s.rx = std::make_unique<FrameReceiver>();
    s.rx->reset();
    s.started = true;
    s.thread = std::thread([&s] { s.run(); });
    return true;
}

void Simulator::stop() {
    Impl& s = *impl_;
    if (!s.started) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(s.mu);
        s.stopping = true;
    }
    s.stop_flag.store(true);
    s.changed.notify_all();
    s.wake.wake();
    if (s.thread.joinable()) {
        s.thread.join();
    }
    s.client.reset();
    s.listener.reset();
    s.pty.reset();
    if (s.log != nullptr) {
        std::fclose(s.log);
        s.log = nullptr;
    }
    s.started = false;
}

uint16_t Simulator::port() const {
    return impl_->bound_port;
}
std::string Simulator::pty_path() const {
    return impl_->pty_name;
}
Generation Simulator::generation() const {
    return impl_->cfg.data.gen;
}

std::vector<std::vector<unsigned char>> Simulator::received_frames() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->frames;
}

uint64_t Simulator::received_count() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->total;
}

uint64_t Simulator::count(uint16_t command) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    const auto it = impl_->counts.find(command);
    return it == impl_->counts.end() ? 0 : it->second;
}

std::map<uint16_t, uint64_t> Simulator::counts() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->counts;
}

bool Simulator::wait_for_count(uint16_t command, uint64_t n,
                               std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] {
        const auto it = impl_->counts.find(command);
        return it != impl_->counts.end() && it->second >= n;
    });
}

bool Simulator::wait_for_frames(uint64_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->total >= n; });
}

bool Simulator::wait_for_connections(uint64_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(impl_->mu);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->accepted >= n; });
}

uint64_t Simulator::connections() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->accepted;
}

uint64_t Simulator::hangups() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->hung_up;
}

uint32_t Simulator::entry_count() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().count();
}

Entry Simulator::entry(uint32_t slot) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().entry(slot);
}

std::vector<unsigned char> Simulator::record_bytes(uint32_t slot) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().record_bytes(slot);
}

std::vector<unsigned char> Simulator::param_block() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().param_block();
}

std::vector<unsigned char> Simulator::entry_page(int32_t first) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.log().entry_page(first);
}

std::optional<std::vector<unsigned char>> Simulator::file(const std::string& name) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.file(name);
}

ClockRecord Simulator::clock() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.clock();
}

int32_t Simulator::state() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.state();
}

std::vector<int32_t> Simulator::events() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.events();
}

std::vector<unsigned char> Simulator::flash() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.flash();
}

std::string Simulator::serial() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->device.serial();
}

int64_t Simulator::store_measurement() {
    int64_t slot = -1;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        slot = impl_->device.log().store_new();
        if (slot >= 0 && impl_->host) {
            impl_->outbox.push_back(impl_->stored_report(slot));
        }
    }
    impl_->changed.notify_all();
    if (impl_->wake.valid()) {
        impl_->wake.wake();
    }
    return slot;
}

void Simulator::send_frame(std::vector<unsigned char> frame) {
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (impl_->host) {
            impl_->outbox.push_back(std::move(frame));
        }
    }
    if (impl_->wake.valid()) {
        impl_->wake.wake();
    }
}

Faults Simulator::faults() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->faults;
}

void Simulator::set_faults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults = faults;
    impl_->resend_done.clear();
    impl_->error_done.clear();
    impl_->fault_base = impl_->counts;
    if (faults.chaos) {
        impl_->rng.state = faults.chaos_seed;
    }
}

} // namespace vuxo::sim
