// Song texts are 8-bit strings; JSON and the terminal want UTF-8. A byte of a song
// text stands for the code point of the same value (0x80-0xFF as U+0080-U+00FF), in
// both directions, so that `info --json` output and pack manifests agree.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace vantrel::tool {

// Each byte becomes the UTF-8 encoding of U+00XX.
std::string BytesToUtf8(const std::string& bytes);

// The inverse: each code point U+0001..U+00FF becomes one byte. Returns false (and
// sets `bad` to the offending code point) for U+0000 or anything above U+00FF. The
// input must be valid UTF-8 (nlohmann's parser guarantees that for JSON strings).
bool Utf8ToBytes(const std::string& utf8, std::string& bytes, uint32_t& bad);

// A JSON number that prints as the shortest decimal reading back as the same
// 32-bit float; null for NaN and infinities.
nlohmann::ordered_json FloatToJson(float f);

// The shortest decimal text of a float (as std::to_chars gives it).
std::string FloatToText(float f);

} // namespace vantrel::tool
