// The instruments the page shows: those found on USB (the list follows the
// plugging) and those added by address; each with its own worker.
#ifndef VUXOCLI_SERVE_INSTRUMENTS_H
#define VUXOCLI_SERVE_INSTRUMENTS_H

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "instrument_worker.h"

namespace vuxocli::serve {

class Instruments {
  public:
    explicit Instruments(const ServeContext& ctx) : ctx_(ctx) {}
    ~Instruments() { clear(); }
    Instruments(const Instruments&) = delete;
    Instruments& operator=(const Instruments&) = delete;

    // The USB ones become exactly `conns`; true when the list changed. Those
    // that arrived are appended to *arrived (may be null).
    bool set_usb(const std::vector<std::string>& conns,
                 std::vector<std::shared_ptr<InstrumentWorker>>* arrived);
    // The instrument at this address, added when new.
    std::shared_ptr<InstrumentWorker> add(const std::string& conn);
    // Null when no instrument has the id.
    std::shared_ptr<InstrumentWorker> find(const std::string& id);
    nlohmann::json list();
    // Ends every worker.
    void clear();

  private:
    ServeContext ctx_;
    std::mutex mu_;
    std::vector<std::shared_ptr<InstrumentWorker>> usb_;
    std::vector<std::shared_ptr<InstrumentWorker>> added_;
    int next_id_ = 1;
};

} // namespace vuxocli::serve

#endif
