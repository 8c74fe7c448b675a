#include "shared_options.h"

#include <CLI/CLI.hpp>

namespace vuxocli {

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
    // Checked by the record layer's export, which every front shares.
    sub->add_option("--since", *since,
                    "Only measurements taken on or after DATE (YYYY-MM-DD[THH:MM[:SS]])");
    sub->add_option("--until", *until,
                    "Only measurements taken on or before DATE (YYYY-MM-DD[THH:MM[:SS]]; a date "
                    "alone includes its whole day)");
}

} // namespace vuxocli
