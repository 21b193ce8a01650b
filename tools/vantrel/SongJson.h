// The `info --json` object: what a load of a song file gave, as a fixed set of
// fields that other tools read.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

class CSong;
class CSongDocument;

namespace vantrel::tool {

// The whole object for one load: path (as given), result, error, format and song
// (null when the document holds none).
nlohmann::ordered_json InfoToJson(const std::string& path, int result, const CSongDocument& doc);

// The "song" member alone.
nlohmann::ordered_json SongToJson(const CSong& song);

} // namespace vantrel::tool
