// The result lines that scripts/bench.sh gathers into its one table: a figure,
// the limit it is compared with (measured in the same run), their ratio and the
// target, separated by '|'. Everything else a benchmark prints goes to the log.
#ifndef VUXO_BENCH_REPORT_H
#define VUXO_BENCH_REPORT_H

#include <cstdio>
#include <string>

namespace bench {

enum class Verdict { met, missed, none };

inline const char* verdict_text(Verdict v) {
    switch (v) {
    case Verdict::met:
        return "met";
    case Verdict::missed:
        return "MISSED";
    default:
        return "-";
    }
}

inline Verdict at_most(double value, double limit) {
    return value <= limit ? Verdict::met : Verdict::missed;
}
inline Verdict at_least(double value, double limit) {
    return value >= limit ? Verdict::met : Verdict::missed;
}

inline std::string fmt(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

inline void row(const std::string& item, const std::string& figure, const std::string& limit,
                const std::string& ratio, const std::string& target, Verdict verdict) {
    std::printf("ROW|%s|%s|%s|%s|%s|%s\n", item.c_str(), figure.c_str(), limit.c_str(),
                ratio.c_str(), target.c_str(), verdict_text(verdict));
    std::fflush(stdout);
}

} // namespace bench

#endif
