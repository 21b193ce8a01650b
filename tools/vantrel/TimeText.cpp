#include "TimeText.h"

#include <cinttypes>
#include <cstdio>
#include <vector>

namespace vantrel::tool {

std::string FormatTime(int64_t ms)
{
    const bool negative = ms < 0;
    const uint64_t a = negative ? static_cast<uint64_t>(-(ms + 1)) + 1 : static_cast<uint64_t>(ms);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%" PRIu64 ":%02" PRIu64 ".%03" PRIu64, negative ? "-" : "",
                  a / 60000, a / 1000 % 60, a % 1000);
    return buf;
}

bool ParseTime(const std::string& text, int64_t& ms)
{
    constexpr int64_t kMost = 366LL * 24 * 3600 * 1000;
    // Whole parts before the last colon-separated field, then seconds with decimals.
    std::vector<int64_t> parts{0};
    int64_t fraction = 0;
    int decimals = -1; // -1: no decimal point yet
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            if (decimals >= 0) {
                if (++decimals > 3)
                    return false;
                fraction = fraction * 10 + (c - '0');
            } else {
                parts.back() = parts.back() * 10 + (c - '0');
                if (parts.back() > kMost)
                    return false;
            }
            digit = true;
        } else if (c == ':' && decimals < 0 && digit && parts.size() < 3) {
            parts.push_back(0);
            digit = false;
        } else if (c == '.' && decimals < 0 && digit) {
            decimals = 0;
        } else {
            return false;
        }
    }
    if (!digit || decimals == 0)
        return false;
    while (decimals >= 0 && decimals < 3) {
        fraction *= 10;
        ++decimals;
    }
    int64_t total = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        // After a colon: minutes and seconds below 60.
        if (i > 0 && parts[i] >= 60)
            return false;
        total = total * 60 + parts[i];
    }
    total = total * 1000 + fraction;
    if (total > kMost)
        return false;
    ms = total;
    return true;
}

} // namespace vantrel::tool
