// vantrel unpack SONG.vn -o FOLDER [--force]: the way back from a song to its parts.
// Writes FOLDER/manifest.json in the form `pack` reads and every clip's embedded data
// as FOLDER/clips/NAME.mp3, so that packing the manifest again gives the same model.
// What a manifest cannot hold is reported as a warning with its place (the manifest
// itself is made by SongJson.cpp).
//
// The folder is built under a temporary name beside it and renamed into place when it
// is complete, so that a failure leaves no half folder.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <random>

#include <nlohmann/json.hpp>

#include "OutputFile.h"
#include "Commands.h"
#include "SongJson.h"
#include "SongPlaces.h"
#include "TextCodec.h"
#include "song/Song.h"
#include "song/SongFileReader.h"
#include "song/SongLoader.h"

namespace vantrel::tool {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

struct UnpackOptions
{
    std::string strSong;
    std::string strFolder;
    bool bForce = false;
    bool bQuiet = false;
};

std::string Reason() { return std::strerror(errno); }

// The temporary folder beside the target; removed with what it holds unless
// Forget() is called.
class CTempFolder
{
public:
    explicit CTempFolder(const fs::path& target)
    {
        const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(entropy()));
            const fs::path p = parent / ("." + target.filename().string() + ".unpack-" + suffix);
            std::error_code ec;
            if (fs::create_directory(p, ec)) {
                m_path = p;
                return;
            }
            if (ec)
                throw CommandError("cannot create a folder in " + parent.string() + ": " + ec.message());
        }
        throw CommandError("cannot create a folder in " + parent.string());
    }
    ~CTempFolder()
    {
        if (!m_path.empty()) {
            std::error_code ec;
            fs::remove_all(m_path, ec);
        }
    }
    const fs::path& Path() const { return m_path; }
    void Forget() { m_path.clear(); }

private:
    fs::path m_path;
};

struct UnpackResult
{
    Json manifest;
    std::vector<std::pair<std::string, std::string>> files; // relative path, bytes
    std::vector<std::string> warnings;
};

std::string ReadRange(std::ifstream& f, int64_t offset, int64_t size)
{
    std::string bytes(static_cast<size_t>(size), '\0');
    f.clear();
    f.seekg(offset);
    f.read(bytes.data(), size);
    if (f.gcount() != size)
        return std::string();
    return bytes;
}

bool AllZero(const std::string& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; });
}

UnpackResult Unpack(const std::string& songPath, const CSong& song, const CSongLoader& loader,
                    const CSongLoadTrace& trace)
{
    UnpackResult r;
    std::vector<std::string>& warn = r.warnings;
    std::ifstream f(songPath, std::ios::binary);
    if (!f)
        throw CommandError("cannot open " + songPath + ": " + Reason());

    // What the file holds beyond the model.
    if (loader.m_strHeaderText != "VN1")
        warn.push_back("header: the header text \"" + BytesToUtf8(loader.m_strHeaderText) +
                       "\" is not kept (pack writes \"VN1\")");
    for (const auto& note : trace.arrDropped)
        warn.push_back(TracePlace(note.where, &song) + (note.where.nSection >= 0 || note.where.nClip >= 0 ||
                                                               note.where.nArrangement >= 0
                                                           ? ": "
                                                           : "") +
                       "offset " + std::to_string(note.nOffset) + ": " + note.strWhat +
                       " is not in the model and not in the manifest");
    for (const auto& skipped : trace.arrSkipped) {
        if (AllZero(ReadRange(f, skipped.nOffset, skipped.nLength)))
            continue;
        const std::string place = TracePlace(skipped.where, &song);
        warn.push_back((place.empty() ? "" : place + ": ") + "offset " + std::to_string(skipped.nOffset) + ": " +
                       skipped.strWhat + " (" + std::to_string(skipped.nLength) +
                       " bytes, not read by the player) holds data that the manifest does not keep");
    }

    // The model itself, in the manifest form.
    const std::string comment =
        "from " + BytesToUtf8(fs::path(songPath).filename().string()) + ", format version 0x" +
        (loader.m_nFormatVersion == 0x60 ? "60" : "61") +
        (loader.m_nFormatVersion == 0x60 ? "; pack it with --format-version 0x60 for the same file version" : "");
    CSongToJson json(song, comment, songPath, [&](const CClip& clip, const std::string& place) {
        std::string data;
        if (clip.m_nDataSize > 0)
            data = ReadRange(f, clip.m_nDataOffset, clip.m_nDataSize);
        if (clip.m_nDataSize < 0 || (clip.m_nDataSize > 0 && data.empty()))
            throw CommandError(songPath + ": " + place + ": cannot read its " + std::to_string(clip.m_nDataSize) +
                               " bytes of data at offset " + std::to_string(clip.m_nDataOffset));
        return data;
    });
    r.manifest = json.Song();
    warn.insert(warn.end(), json.Warnings().begin(), json.Warnings().end());
    r.files = json.Files();
    return r;
}

void MoveOver(const fs::path& from, const fs::path& to)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
        throw CommandError("cannot write " + to.string() + ": " + ec.message());
}

bool IsEmptyFolder(const fs::path& p)
{
    std::error_code ec;
    return fs::is_directory(p, ec) && fs::directory_iterator(p, ec) == fs::directory_iterator();
}

void RunUnpack(const UnpackOptions& opt)
{
    const fs::path target(opt.strFolder);
    std::error_code ec;
    const bool exists = fs::exists(fs::symlink_status(target, ec)) || fs::exists(target, ec);
    if (exists && !fs::is_directory(target, ec))
        throw CommandError(opt.strFolder + " exists and is not a folder");
    const bool empty = !exists || IsEmptyFolder(target);
    if (!empty && !opt.bForce)
        throw CommandError(opt.strFolder + " is not empty; not writing into it (use --force to replace "
                                           "its manifest.json and clips/ files)");

    CSongLoader loader;
    CSongLoadTrace trace;
    loader.SetTrace(&trace);
    std::unique_ptr<CSong> song;
    try {
        song = loader.Load(opt.strSong);
    } catch (const std::exception&) {
        throw CommandError("cannot open " + opt.strSong + ": " + Reason());
    }
    if (!song)
        throw CommandError(opt.strSong + ": File is not a VNF or is corrupted. (" + trace.strFailure +
                           "; vantrel check tells where)");

    UnpackResult r = Unpack(opt.strSong, *song, loader, trace);
    for (const std::string& w : r.warnings)
        std::fprintf(stderr, "warning: %s: %s\n", opt.strSong.c_str(), w.c_str());

    CTempFolder temp(target);
    if (!r.files.empty() && !fs::create_directory(temp.Path() / "clips", ec))
        throw CommandError("cannot create " + (temp.Path() / "clips").string() + ": " + ec.message());
    for (const auto& file : r.files)
        WriteWholeFile((temp.Path() / file.first).string(), file.second);
    WriteWholeFile((temp.Path() / "manifest.json").string(), r.manifest.dump(2) + "\n");

    if (empty) {
        // A new folder, or one that is empty: the whole folder moves into place at once
        // (rename replaces an empty folder).
#ifdef _WIN32
        if (exists)
            fs::remove(target, ec); // empty; Windows does not rename over a folder
#endif
        fs::rename(temp.Path(), target, ec);
        if (ec)
            throw CommandError("cannot create " + opt.strFolder + ": " + ec.message());
        temp.Forget();
    } else {
        // --force into a folder that holds files: each new file replaces its namesake,
        // the clips first and the manifest last; other files stay.
        if (!r.files.empty()) {
            fs::create_directories(target / "clips", ec);
            if (ec)
                throw CommandError("cannot create " + (target / "clips").string() + ": " + ec.message());
        }
        for (const auto& file : r.files)
            MoveOver(temp.Path() / file.first, target / file.first);
        MoveOver(temp.Path() / "manifest.json", target / "manifest.json");
    }
    if (!opt.bQuiet)
        std::fprintf(stderr, "wrote %s: manifest.json and %zu clip%s (%zu warning%s)\n", opt.strFolder.c_str(),
                     r.files.size(), r.files.size() == 1 ? "" : "s", r.warnings.size(),
                     r.warnings.size() == 1 ? "" : "s");
}

} // namespace

void AddUnpackCommand(CLI::App& app)
{
    auto opt = std::make_shared<UnpackOptions>();
    CLI::App* cmd = app.add_subcommand(
        "unpack", "Write a song's manifest and clips to a folder, which pack turns back into the song");
    cmd->add_option("SONG", opt->strSong, "The song file (.vn)")->required();
    cmd->add_option("-o,--output", opt->strFolder, "The folder to write (new or empty)")->required();
    cmd->add_flag("--force", opt->bForce,
                  "Write into a folder that is not empty (its manifest.json and clip files are replaced)");
    cmd->add_flag("-q,--quiet", opt->bQuiet, "Print only warnings and errors");
    cmd->callback([opt] { RunUnpack(*opt); });
}

} // namespace vantrel::tool
