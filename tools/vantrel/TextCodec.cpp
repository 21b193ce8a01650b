#include "TextCodec.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace vantrel::tool {

std::string BytesToUtf8(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

bool Utf8ToBytes(const std::string& utf8, std::string& bytes, uint32_t& bad)
{
    bytes.clear();
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t len;
        if (b < 0x80) {
            cp = b;
            len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            len = 3;
        } else {
            cp = b & 0x07;
            len = 4;
        }
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (cp == 0 || cp > 0xFF) {
            bad = cp;
            return false;
        }
        bytes.push_back(static_cast<char>(cp));
        i += len;
    }
    return true;
}

std::string FloatToText(float f)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, f);
    return std::string(buf, res.ptr);
}

nlohmann::ordered_json FloatToJson(float f)
{
    if (!std::isfinite(f))
        return nullptr;
    // nlohmann prints a double as its shortest round-trip text. The double nearest
    // the float's shortest text therefore prints as that text (e.g. 0.1, not
    // 0.100000001490116). Should that ever not read back as the same float, the
    // float's exact value (as a double) is used: it prints longer, but exactly.
    const std::string text = FloatToText(f);
    const double d = std::strtod(text.c_str(), nullptr);
    const std::string printed = nlohmann::json(d).dump();
    if (std::strtof(printed.c_str(), nullptr) == f &&
        std::signbit(std::strtof(printed.c_str(), nullptr)) == std::signbit(f))
        return d;
    return static_cast<double>(f);
}

} // namespace vantrel::tool
