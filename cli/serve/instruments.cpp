#include "instruments.h"

#include <algorithm>

namespace vuxocli::serve {

bool Instruments::set_usb(const std::vector<std::string>& conns,
                          std::vector<std::shared_ptr<InstrumentWorker>>* arrived) {
    // Workers that leave are ended outside the lock: ending waits for their job.
    std::vector<std::shared_ptr<InstrumentWorker>> gone;
    bool changed = false;
    {
        std::lock_guard lock(mu_);
        for (auto it = usb_.begin(); it != usb_.end();) {
            if (std::find(conns.begin(), conns.end(), (*it)->conn()) == conns.end()) {
                gone.push_back(*it);
                it = usb_.erase(it);
                changed = true;
            } else {
                ++it;
            }
        }
        for (const std::string& conn : conns) {
            const bool known = std::any_of(usb_.begin(), usb_.end(),
                                           [&](const auto& w) { return w->conn() == conn; });
            if (!known) {
                usb_.push_back(std::make_shared<InstrumentWorker>(std::to_string(next_id_++), conn,
                                                                  "usb", ctx_));
                if (arrived != nullptr) {
                    arrived->push_back(usb_.back());
                }
                changed = true;
            }
        }
    }
    return changed;
}

std::shared_ptr<InstrumentWorker> Instruments::add(const std::string& conn) {
    std::lock_guard lock(mu_);
    for (const auto* list : {&usb_, &added_}) {
        for (const auto& w : *list) {
            if (w->conn() == conn) {
                return w;
            }
        }
    }
    added_.push_back(
        std::make_shared<InstrumentWorker>(std::to_string(next_id_++), conn, "added", ctx_));
    return added_.back();
}

std::shared_ptr<InstrumentWorker> Instruments::find(const std::string& id) {
    std::lock_guard lock(mu_);
    for (const auto* list : {&usb_, &added_}) {
        for (const auto& w : *list) {
            if (w->id() == id) {
                return w;
            }
        }
    }
    return nullptr;
}

nlohmann::json Instruments::list() {
    std::vector<std::shared_ptr<InstrumentWorker>> all;
    {
        std::lock_guard lock(mu_);
        all = usb_;
        all.insert(all.end(), added_.begin(), added_.end());
    }
    nlohmann::json out = nlohmann::json::array();
    for (const auto& w : all) {
        out.push_back(w->describe());
    }
    return out;
}

void Instruments::clear() {
    std::vector<std::shared_ptr<InstrumentWorker>> all;
    {
        std::lock_guard lock(mu_);
        all.swap(usb_);
        all.insert(all.end(), added_.begin(), added_.end());
        added_.clear();
    }
}

} // namespace vuxocli::serve
