#include "shared_options.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>

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

CLI::Validator time_check() {
    return CLI::Validator(
        [](std::string& text) {
            return valid_time(text)
                       ? std::string()
                       : "YYYY-MM-DD[THH:MM[:SS]], a real date and time, not \"" + text + "\"";
        },
        "DATE");
}

} // namespace

void add_db_option(CLI::App* sub, std::string* db, const std::string& help) {
    sub->add_option("--db", *db, help)
        ->check(CLI::Validator(
            [](std::string& text) {
                return text.empty() ? std::string("names no file") : std::string();
            },
            "FILE"))
        ->capture_default_str();
}

void add_period_options(CLI::App* sub, std::string* since, std::string* until) {
    sub->add_option("--since", *since,
                    "Only measurements taken on or after DATE (YYYY-MM-DD[THH:MM[:SS]])")
        ->check(time_check());
    sub->add_option("--until", *until,
                    "Only measurements taken on or before DATE (YYYY-MM-DD[THH:MM[:SS]]; a date "
                    "alone includes its whole day)")
        ->check(time_check());
}

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

bool set_period(const std::string& since, const std::string& until, QueryFilter* filter) {
    if (!since.empty()) {
        filter->since = since;
    }
    if (!until.empty()) {
        filter->until = until_bound(until);
    }
    if (filter->since && filter->until && *filter->since > *filter->until) {
        std::fprintf(stderr, "vuxoint: --since %s is after --until %s\n", since.c_str(),
                     until.c_str());
        return false;
    }
    return true;
}

} // namespace vuxocli
