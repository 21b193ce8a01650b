#include "Picture.h"

#include "Commands.h"

#ifdef VANTREL_NO_CAIRO

namespace vantrel::tool {

PictureStats DrawPerformancePicture(const std::string&, int, const std::string&)
{
    throw CommandError("this build of vantrel draws no pictures (it has no cairo)");
}

PictureStats DrawSongPicture(const CSongDocument&, const std::string&, int)
{
    throw CommandError("this build of vantrel draws no pictures (it has no cairo)");
}

} // namespace vantrel::tool

#else

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include "OutputFile.h"
#include "PerformanceChoice.h"
#include "TextCodec.h"
#include "arrange/Performances.h"
#include "arrange/Playable.h"
#include "player/EventVoices.h"
#include "player/SongPlayer.h"
#include "song/SongDocument.h"

namespace vantrel::tool {

namespace {

// ---- Output: PNG or SVG by the extension, written whole through a temporary file.

enum class Format { Png, Svg };

Format FormatOf(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".png")
        return Format::Png;
    if (ext == ".svg")
        return Format::Svg;
    throw CommandError("--picture " + path + ": the name must end in .png or .svg");
}

cairo_status_t AppendToString(void* closure, const unsigned char* data, unsigned int length)
{
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

std::string XmlEscape(const std::string& utf8)
{
    std::string out;
    for (char c : utf8) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// A canvas of the given size (in drawing units; the picture is `scale` times that);
// Finish() writes it.
class CCanvas
{
public:
    CCanvas(const std::string& path, Format format, int width, int height, double scale = 1.0)
        : m_strPath(path), m_format(format)
    {
        const int w = std::max(1, static_cast<int>(std::lround(width * scale)));
        const int h = std::max(1, static_cast<int>(std::lround(height * scale)));
        m_pSurface = m_format == Format::Png ? cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)
                                             : cairo_svg_surface_create_for_stream(AppendToString, &m_strSvg, w, h);
        m_pCr = cairo_create(m_pSurface);
        m_nWidth = w;
        m_nHeight = h;
        cairo_scale(m_pCr, scale, scale);
        cairo_set_source_rgb(m_pCr, 1, 1, 1);
        cairo_paint(m_pCr);
        cairo_select_font_face(m_pCr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    }
    ~CCanvas()
    {
        cairo_destroy(m_pCr);
        cairo_surface_destroy(m_pSurface);
    }
    cairo_t* Cr() { return m_pCr; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    // Texts also written into an SVG as its title and description, for search and
    // screen readers (cairo draws the labels as glyph outlines).
    void Describe(const std::string& utf8) { m_arrTexts.push_back(utf8); }

    void Finish(const std::string& title)
    {
        std::string bytes;
        if (m_format == Format::Png) {
            cairo_surface_flush(m_pSurface);
            if (cairo_surface_write_to_png_stream(m_pSurface, AppendToString, &bytes) != CAIRO_STATUS_SUCCESS)
                throw CommandError("cannot draw " + m_strPath);
        } else {
            cairo_surface_finish(m_pSurface);
            if (cairo_surface_status(m_pSurface) != CAIRO_STATUS_SUCCESS)
                throw CommandError("cannot draw " + m_strPath);
            bytes = m_strSvg;
            const size_t open = bytes.find("<svg");
            const size_t end = open == std::string::npos ? open : bytes.find('>', open);
            if (end != std::string::npos) {
                std::string desc;
                for (const std::string& t : m_arrTexts)
                    desc += XmlEscape(t) + "\n";
                bytes.insert(end + 1, "\n<title>" + XmlEscape(title) + "</title>\n<desc>\n" + desc + "</desc>");
            }
        }
        WriteWholeFile(m_strPath, bytes);
    }

private:
    std::string m_strPath;
    Format m_format;
    std::string m_strSvg;
    std::vector<std::string> m_arrTexts;
    int m_nWidth = 0;
    int m_nHeight = 0;
    cairo_surface_t* m_pSurface = nullptr;
    cairo_t* m_pCr = nullptr;
};

// Lets go of cairo's font caches once a picture is done (the tool draws one or two
// per run; without this the fonts' patterns stay allocated until exit), and of
// fontconfig's, which cairo loaded.
struct CCairoCaches
{
    CCairoCaches() = default;
    CCairoCaches(const CCairoCaches&) = delete;
    CCairoCaches& operator=(const CCairoCaches&) = delete;
    ~CCairoCaches()
    {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

struct Rgb
{
    double r, g, b;
};

void SetColour(cairo_t* cr, const Rgb& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// A text drawn inside [x, x + width), cut off at the right edge with an ellipsis.
void FitText(cairo_t* cr, const std::string& utf8, double x, double y, double width)
{
    if (width < 6)
        return;
    std::string text = utf8;
    cairo_text_extents_t ext;
    cairo_text_extents(cr, text.c_str(), &ext);
    while (!text.empty() && ext.x_advance > width) {
        // Drop whole UTF-8 characters.
        do
            text.pop_back();
        while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80);
        if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0xC0)
            text.pop_back();
        const std::string shown = text + "\xE2\x80\xA6";
        cairo_text_extents(cr, shown.c_str(), &ext);
        if (ext.x_advance <= width) {
            text = shown;
            break;
        }
    }
    if (text.empty())
        return;
    cairo_move_to(cr, x, y);
    cairo_show_text(cr, text.c_str());
}

std::string Clock(double ms)
{
    const long s = static_cast<long>(ms / 1000.0 + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string Seconds(int32_t ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s", ms / 1000.0);
    return buf;
}

const Rgb kTrackColours[4] = {{0.16, 0.38, 0.67}, {0.18, 0.55, 0.34}, {0.55, 0.27, 0.62}, {0.12, 0.52, 0.58}};
const Rgb kOverflow = {0.85, 0.45, 0.10};
const Rgb kNotPlayed = {0.72, 0.72, 0.72};
const Rgb kInk = {0.13, 0.13, 0.13};
const Rgb kGrid = {0.80, 0.80, 0.80};

struct Bar
{
    int nEntry, nTrack;
    double fStartMs, fEndMs;
    std::string strLabel;
    int nVoice = -1; // -1: not started
    int nRow = 0;    // sub-row within its lane, so that overlapping bars do not cover each other
};

} // namespace

PictureStats DrawPerformancePicture(const std::string& songPath, int number, const std::string& path)
{
    FormatOf(path);
    PrepareGeneratorFor(songPath, number);
    CSongPlayer player("generic");
    if (!player.Open(songPath))
        throw CommandError(songPath + ": cannot draw a performance of a song that does not load");
    player.Prepare();
    if (player.GetLength() < 0)
        throw CommandError(songPath + ": the song has nothing that can be played");
    const CSongDocument& doc = player.GetDocument();
    const std::vector<EventVoice> events = RecordEventVoices(player, "generic");

    const CSong& song = *doc.GetSong();
    const std::vector<CPerformanceEntry> entries = vantrel::PerformanceEntries(doc);
    auto variationOf = [&](const CPerformanceEntry& entry) -> const CVariation& {
        return *song.GetSection(entry.nSection)->m_arrVariations[static_cast<size_t>(entry.nVariation)];
    };
    const double totalMs = std::max(1, player.GetLength());
    std::vector<Bar> bars;
    int lanes = 4;
    for (const CPerformanceEntry& entry : entries)
        lanes = std::max(lanes, static_cast<int>(variationOf(entry).m_arrTracks.size()));
    for (const EventVoice& ev : events) {
        const CClipEvent& e = *ev.pEvent;
        Bar b{ev.nEntry, ev.nTrack, entries[static_cast<size_t>(ev.nEntry)].nStartMs +
                                        static_cast<double>(std::max<int64_t>(0, e.m_nStartMs)),
              0, BytesToUtf8(e.m_pClip->m_strName)};
        b.fEndMs = b.fStartMs + static_cast<double>(std::max<int64_t>(0, e.m_nLengthMs));
        b.nVoice = ev.nVoice;
        bars.push_back(std::move(b));
    }
    // Sub-rows: each bar goes to the first row of its lane that is free at its start.
    std::vector<int> rowsOfLane(static_cast<size_t>(lanes), 1);
    {
        std::vector<std::vector<double>> rowEnd(static_cast<size_t>(lanes));
        std::vector<size_t> order(bars.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return bars[a].fStartMs < bars[b].fStartMs; });
        for (size_t i : order) {
            Bar& b = bars[i];
            auto& ends = rowEnd[static_cast<size_t>(b.nTrack)];
            size_t r = 0;
            while (r < ends.size() && ends[r] > b.fStartMs)
                ++r;
            if (r == ends.size())
                ends.push_back(0);
            // A label needs room even where the bar is short.
            ends[r] = std::max(b.fEndMs, b.fStartMs + totalMs * 0.04);
            b.nRow = static_cast<int>(r);
        }
        for (int l = 0; l < lanes; ++l)
            rowsOfLane[static_cast<size_t>(l)] = std::max<int>(1, static_cast<int>(rowEnd[static_cast<size_t>(l)].size()));
    }

    const int width = 1400, left = 96, right = 16, rowH = 22, laneGap = 10;
    const int top = 118;
    std::vector<int> laneY;
    int y = top;
    for (int l = 0; l < lanes; ++l) {
        laneY.push_back(y);
        y += rowsOfLane[static_cast<size_t>(l)] * rowH + laneGap;
    }
    const int height = y + 40;
    const double scale = (width - left - right) / totalMs;
    auto X = [&](double ms) { return left + ms * scale; };

    CCairoCaches caches;
    CCanvas canvas(path, FormatOf(path), width, height);
    cairo_t* cr = canvas.Cr();
    const int arrangementIndex = vantrel::ChosenArrangementIndex(doc);
    const std::string title = BytesToUtf8(song.m_strTitle) + ": performance " + std::to_string(number) +
                              ", arrangement \"" + BytesToUtf8(doc.GetArrangement()->m_strName) + "\" [" +
                              std::to_string(arrangementIndex) + "], " + Clock(totalMs);
    canvas.Describe(title);
    SetColour(cr, kInk);
    cairo_set_font_size(cr, 17);
    FitText(cr, title, 12, 26, width - 24);

    // Entries: a column each, named by section and variation.
    cairo_set_font_size(cr, 12);
    for (size_t i = 0; i < entries.size(); ++i) {
        const CVariation& v = variationOf(entries[i]);
        const double x0 = X(entries[i].nStartMs);
        const double x1 = X(entries[i].nStartMs + static_cast<double>(v.m_nLengthMs));
        cairo_set_source_rgb(cr, i % 2 ? 0.96 : 0.92, i % 2 ? 0.97 : 0.94, i % 2 ? 0.99 : 0.97);
        cairo_rectangle(cr, x0, 40, x1 - x0, height - 40 - 30);
        cairo_fill(cr);
        SetColour(cr, kGrid);
        cairo_move_to(cr, x0 + 0.5, 40);
        cairo_line_to(cr, x0 + 0.5, height - 30);
        cairo_stroke(cr);
        const std::string section = BytesToUtf8(v.m_pSection->m_strName);
        const std::string variation = BytesToUtf8(v.m_strName);
        canvas.Describe("entry " + std::to_string(i) + ": " + section + " / " + variation);
        SetColour(cr, kInk);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        FitText(cr, section, x0 + 4, 56, x1 - x0 - 8);
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        FitText(cr, variation, x0 + 4, 72, x1 - x0 - 8);
    }
    // The ruler: a tick every so many seconds, at least 70 pixels apart.
    {
        static const int steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800, 3600};
        int step = steps[0];
        for (int s : steps) {
            step = s;
            if (s * 1000.0 * scale >= 70)
                break;
        }
        SetColour(cr, kInk);
        cairo_set_line_width(cr, 1);
        cairo_move_to(cr, left, 96.5);
        cairo_line_to(cr, width - right, 96.5);
        cairo_stroke(cr);
        cairo_set_font_size(cr, 11);
        for (double ms = 0; ms <= totalMs + 1; ms += step * 1000.0) {
            const double x = std::floor(X(ms)) + 0.5;
            cairo_move_to(cr, x, 92);
            cairo_line_to(cr, x, 101);
            cairo_stroke(cr);
            const std::string label = Clock(ms);
            cairo_text_extents_t ext;
            cairo_text_extents(cr, label.c_str(), &ext);
            cairo_move_to(cr, std::min(x - ext.x_advance / 2, width - right - ext.x_advance), 112);
            cairo_show_text(cr, label.c_str());
        }
    }
    // Lanes.
    cairo_set_font_size(cr, 12);
    for (int l = 0; l < lanes; ++l) {
        SetColour(cr, l < 4 ? kInk : kNotPlayed);
        FitText(cr, "Track " + std::to_string(l + 1), 10, laneY[static_cast<size_t>(l)] + 15, left - 16);
        if (l >= 4) {
            cairo_set_font_size(cr, 10);
            FitText(cr, "not played", 10, laneY[static_cast<size_t>(l)] + 28, left - 16);
            cairo_set_font_size(cr, 12);
        }
    }
    // Event bars.
    PictureStats stats;
    cairo_set_font_size(cr, 11);
    for (const Bar& b : bars) {
        const double x0 = X(b.fStartMs);
        const double x1 = std::max(x0 + 3, X(b.fEndMs));
        const double by = laneY[static_cast<size_t>(b.nTrack)] + b.nRow * rowH;
        const Rgb colour = b.nVoice < 0 ? kNotPlayed : b.nVoice < 4 ? kTrackColours[b.nTrack % 4] : kOverflow;
        SetColour(cr, colour);
        cairo_rectangle(cr, x0, by, x1 - x0, rowH - 3);
        cairo_fill(cr);
        ++stats.nEventBars;
        std::string label = b.strLabel;
        if (b.nVoice >= 4)
            label += " (voice " + std::to_string(b.nVoice) + ")";
        canvas.Describe("track " + std::to_string(b.nTrack + 1) + " at " + Clock(b.fStartMs) + ": " + label +
                        (b.nVoice < 0 ? " (not played)" : " on voice " + std::to_string(b.nVoice)));
        cairo_save(cr);
        cairo_rectangle(cr, x0, by, std::max(x1 - x0, totalMs * 0.04 * scale), rowH - 3);
        cairo_clip(cr);
        if (b.nVoice < 0)
            SetColour(cr, kInk);
        else if (x1 - x0 > 30)
            cairo_set_source_rgb(cr, 1, 1, 1);
        else
            SetColour(cr, kInk);
        FitText(cr, label, x0 + (x1 - x0 > 30 ? 4 : x1 - x0 + 2), by + 14,
                std::max(x1 - x0 - 8, totalMs * 0.04 * scale - (x1 - x0) - 4));
        cairo_restore(cr);
    }
    // Legend.
    {
        double lx = 12;
        const double ly = height - 22;
        cairo_set_font_size(cr, 11);
        auto item = [&](const Rgb& c, const std::string& text) {
            SetColour(cr, c);
            cairo_rectangle(cr, lx, ly - 9, 14, 11);
            cairo_fill(cr);
            SetColour(cr, kInk);
            cairo_move_to(cr, lx + 19, ly);
            cairo_show_text(cr, text.c_str());
            cairo_text_extents_t ext;
            cairo_text_extents(cr, text.c_str(), &ext);
            lx += 19 + ext.x_advance + 22;
        };
        item(kTrackColours[0], "on its track's voice (0-3)");
        item(kOverflow, "on an overflow voice (4-11): the track's voice was busy");
        item(kNotPlayed, "not played (fifth track on, or not started)");
    }
    canvas.Finish(title);
    stats.nWidth = width;
    stats.nHeight = height;
    player.Close();
    return stats;
}

PictureStats DrawSongPicture(const CSongDocument& doc, const std::string& path, int fitSize)
{
    const Format format = fitSize > 0 ? Format::Png : FormatOf(path);
    const CSong& song = *doc.GetSong();
    const int width = 1200, left = 150, boxH = 26, gap = 8;
    int32_t longest = 1;
    size_t mostVariations = 1;
    for (const auto& s : song.m_arrSections) {
        mostVariations = std::max(mostVariations, s->m_arrVariations.size());
        for (const auto& v : s->m_arrVariations)
            longest = std::max(longest, v->m_nLengthMs);
    }
    size_t mostRefs = 1;
    for (const auto& a : song.m_arrArrangements)
        mostRefs = std::max(mostRefs, a->m_arrSections.size());
    const double refW = std::min(130.0, (width - left - 16.0) / static_cast<double>(mostRefs));
    const int arrTop = 64;
    const int secTop = arrTop + static_cast<int>(song.m_arrArrangements.size()) * (boxH + gap) + 44;
    const int height = secTop + static_cast<int>(song.m_arrSections.size()) * (boxH + gap) + 24;
    // Variations of one section side by side, widths in proportion to their lengths.
    const double varScale = (width - left - 16.0 - gap * static_cast<double>(mostVariations)) /
                            (static_cast<double>(longest) * static_cast<double>(mostVariations));

    // A thumbnail: the whole picture, fitted into fitSize x fitSize.
    const double scale = fitSize > 0 ? fitSize / static_cast<double>(std::max(width, height)) : 1.0;
    CCairoCaches caches;
    CCanvas canvas(path, format, width, height, scale);
    cairo_t* cr = canvas.Cr();
    const std::string title = BytesToUtf8(song.m_strTitle) + (song.m_strAuthor.empty() ? "" : " - " + BytesToUtf8(song.m_strAuthor));
    canvas.Describe(title);
    SetColour(cr, kInk);
    cairo_set_font_size(cr, 17);
    FitText(cr, title, 12, 26, width - 24);
    std::map<const CSection*, Rgb> colour;
    for (size_t i = 0; i < song.m_arrSections.size(); ++i) {
        const double h = std::fmod(static_cast<double>(i) * 0.61803, 1.0);
        // A soft hue per section.
        const double r = 0.72 + 0.22 * std::cos(6.2832 * h), g = 0.72 + 0.22 * std::cos(6.2832 * (h - 0.33)),
                     b = 0.72 + 0.22 * std::cos(6.2832 * (h - 0.67));
        colour[song.m_arrSections[i].get()] = {r, g, b};
    }
    auto heading = [&](const std::string& text, int y) {
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cr, 13);
        SetColour(cr, kInk);
        cairo_move_to(cr, 12, y);
        cairo_show_text(cr, text.c_str());
        cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        canvas.Describe(text);
    };
    auto box = [&](const Rgb& c, double x, double y, double w, const std::string& text) {
        SetColour(cr, c);
        cairo_rectangle(cr, x, y, w - 3, boxH);
        cairo_fill(cr);
        SetColour(cr, kInk);
        FitText(cr, text, x + 5, y + 17, w - 12);
        canvas.Describe(text);
    };
    heading("Arrangements", arrTop - 12);
    for (size_t a = 0; a < song.m_arrArrangements.size(); ++a) {
        const CArrangement& arr = *song.m_arrArrangements[a];
        const double y = arrTop + static_cast<double>(a) * (boxH + gap);
        cairo_set_font_size(cr, 12);
        SetColour(cr, kInk);
        FitText(cr, BytesToUtf8(arr.m_strName), 12, y + 17, left - 20);
        canvas.Describe("arrangement " + BytesToUtf8(arr.m_strName));
        for (size_t k = 0; k < arr.m_arrSections.size(); ++k)
            box(colour[arr.m_arrSections[k]], left + static_cast<double>(k) * refW, y, refW,
                BytesToUtf8(arr.m_arrSections[k]->m_strName));
    }
    heading("Sections and their variations", secTop - 12);
    for (size_t s = 0; s < song.m_arrSections.size(); ++s) {
        const CSection& section = *song.m_arrSections[s];
        const double y = secTop + static_cast<double>(s) * (boxH + gap);
        cairo_set_font_size(cr, 12);
        SetColour(cr, kInk);
        FitText(cr, BytesToUtf8(section.m_strName), 12, y + 17, left - 20);
        double x = left;
        for (const auto& v : section.m_arrVariations) {
            const double w = std::max(90.0, v->m_nLengthMs * varScale);
            const std::string text = (v->m_strName.empty() ? std::string("(unnamed)") : BytesToUtf8(v->m_strName)) +
                                     "  " + Seconds(v->m_nLengthMs) + ", " + std::to_string(v->m_arrTracks.size()) +
                                     (v->m_arrTracks.size() == 1 ? " track" : " tracks");
            box(vantrel::IsPlayable(*v) ? colour[&section] : kNotPlayed, x, y, w, text);
            x += w + gap;
        }
        if (section.m_arrVariations.empty()) {
            SetColour(cr, kNotPlayed);
            FitText(cr, "no variations", x + 5, y + 17, 200);
        }
    }
    canvas.Finish(title);
    PictureStats stats;
    stats.nWidth = canvas.Width();
    stats.nHeight = canvas.Height();
    return stats;
}

} // namespace vantrel::tool

#endif
