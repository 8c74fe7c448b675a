#include "period.h"

#include <cctype>
#include <chrono>
#include <utility>

namespace vuxocli {

namespace {

bool digits_at(const std::string& t, std::size_t pos, std::size_t n) {
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (i >= t.size() || std::isdigit(static_cast<unsigned char>(t[i])) == 0) {
            return false;
        }
    }
    return true;
}

int number_at(const std::string& t, std::size_t pos, std::size_t n) {
    return std::stoi(t.substr(pos, n));
}

} // namespace

bool valid_time(const std::string& t) {
    const bool date = t.size() >= 10 && digits_at(t, 0, 4) && t[4] == '-' && digits_at(t, 5, 2) &&
                      t[7] == '-' && digits_at(t, 8, 2);
    if (!date) {
        return false;
    }
    const std::chrono::year_month_day day{std::chrono::year(number_at(t, 0, 4)),
                                          std::chrono::month(number_at(t, 5, 2)),
                                          std::chrono::day(number_at(t, 8, 2))};
    if (!day.ok()) {
        return false;
    }
    if (t.size() == 10) {
        return true;
    }
    const bool minutes = t.size() >= 16 && t[10] == 'T' && digits_at(t, 11, 2) && t[13] == ':' &&
                         digits_at(t, 14, 2) && number_at(t, 11, 2) < 24 &&
                         number_at(t, 14, 2) < 60;
    return minutes && (t.size() == 16 || (t.size() == 19 && t[16] == ':' && digits_at(t, 17, 2) &&
                                          number_at(t, 17, 2) < 60));
}

std::string until_bound(const std::string& text) {
    // Stored times are YYYY-MM-DDTHH:MM:SS, so the text compares as a time.
    switch (text.size()) {
    case 10:
        return text + "T23:59:59";
    case 16:
        return text + ":59";
    default:
        return text;
    }
}

bool set_period(const std::string& since, const std::string& until, QueryFilter* filter,
                std::string* message) {
    for (const auto& [name, text] : {std::pair{"--since", &since}, std::pair{"--until", &until}}) {
        if (!text->empty() && !valid_time(*text)) {
            *message = std::string(name) +
                       ": YYYY-MM-DD[THH:MM[:SS]], a real date and time, not \"" + *text + "\"";
            return false;
        }
    }
    if (!since.empty()) {
        filter->since = since;
    }
    if (!until.empty()) {
        filter->until = until_bound(until);
    }
    if (filter->since && filter->until && *filter->since > *filter->until) {
        *message = "--since " + since + " is after --until " + until;
        return false;
    }
    return true;
}

} // namespace vuxocli
