// Songs for the plug-in tests, written to temporary files. Each has one arrangement
// and one variation per section, so every performance is the same.
#pragma once

#include <string>
#include <vector>

namespace plugintest {

// Entries of the given lengths without any events: silence, cheap to render.
std::string WriteSilentSong(const std::string& name, const std::vector<int>& entryMs);
// Two entries (2000 ms and 1500 ms) sounding the stereo test clip, with every text set
// (a two-line copyright notice).
std::string WriteClipSong(const std::string& name);
// A song whose performances differ from draw to draw: two arrangements, sections
// with variations of different lengths and events, all sounding the stereo test clip.
std::string WriteVaryingSong(const std::string& name);
// A file that is not a song.
std::string WriteNotASong(const std::string& name);
// The whole performance of a song, rendered by a player of the test's own.
std::vector<char> RenderDirect(const std::string& path);

} // namespace plugintest
