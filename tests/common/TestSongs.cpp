#include "common/TestSongs.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <direct.h>
#include <process.h>
#endif

#include "song/SongWriter.h"

namespace testutil {

std::string TempPath(const std::string& name)
{
    // A fresh folder for each test program: a name from the process id alone would be
    // found again, with an earlier run's files in it, once the id is reused.
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string d = std::string(base && *base ? base : "/tmp") + "/vantrel-tests-";
#ifdef _WIN32
        d += std::to_string(::_getpid());
        ::_mkdir(d.c_str());
#else
        d += "XXXXXX";
        if (!::mkdtemp(d.data()))
            throw std::runtime_error("cannot make a folder for the tests' files in " + d);
#endif
        return d;
    }();
    return dir + "/" + name;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

void WriteSong(const CSong& song, const std::vector<std::string>& clipData, const std::string& path,
               uint8_t version)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    CSongWriter::Write(song, clipData, f, version);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

CSection* AddSection(CSong& song, const std::string& name)
{
    return song.AddSection(std::make_unique<CSection>(name));
}

CVariation* AddVariation(CSection& section, const std::string& name, int32_t lengthMs)
{
    auto v = std::make_unique<CVariation>(name);
    v->SetLengthMs(lengthMs);
    CVariation* p = v.get();
    section.AddVariation(std::move(v));
    return p;
}

CTrack* AddTrack(CVariation& variation, const std::string& name)
{
    auto t = std::make_unique<CTrack>(name);
    CTrack* p = t.get();
    variation.AddTrack(std::move(t));
    return p;
}

CClipEvent* AddEvent(CTrack& track, CClip* clip, int64_t startMs, int64_t lengthMs)
{
    auto e = std::make_unique<CClipEvent>();
    e->m_pClip = clip;
    e->m_nStartMs = startMs;
    e->m_nLengthMs = lengthMs;
    e->m_bActive = 1;
    CClipEvent* p = e.get();
    track.AddEvent(std::move(e));
    return p;
}

CArrangement* AddArrangement(CSong& song, const std::string& name,
                             const std::vector<CSection*>& sections)
{
    auto a = std::make_unique<CArrangement>(name);
    for (CSection* s : sections)
        a->AddSection(s);
    CArrangement* p = a.get();
    if (!song.AddArrangement(a))
        throw std::runtime_error("arrangement name taken: " + name);
    return p;
}

CClip* AddClip(CSong& song, const std::string& name, uint8_t kind)
{
    auto c = std::make_unique<CClip>(kind, "", 0, 0);
    c->m_strName = name;
    return song.AddClip(std::move(c));
}

std::unique_ptr<CSong> MakeSampleSong()
{
    auto song = std::make_unique<CSong>("Sample Song");
    song->SetAuthor("An Author");
    song->SetPublisher("A Publisher");
    song->SetGenre("Test");
    song->SetCopyright("(c) nobody\r\nsecond line");
    song->SetFactor(1.25f);
    song->SetMeter(3, -8);
    song->SetVolume(200);
    song->SetPan(-5);
    song->SetMode(7);
    song->SetOption(9);

    CClip* drums = AddClip(*song, "drums", 2);
    CClip* bass = AddClip(*song, "bass", 1);
    AddClip(*song, "no data", 0);

    CSection* intro = AddSection(*song, "Intro");
    intro->SetSettings(-3, 70000);
    CSection* verse = AddSection(*song, "Verse");
    CSection* outro = AddSection(*song, "Outro");

    CVariation* i1 = AddVariation(*intro, "Intro A", 1000);
    i1->SetFactor(0.5f);
    i1->SetMeter(6, 8);
    CTrack* t = AddTrack(*i1, "Drums");
    t->SetVolume(255);
    t->SetPan(200);
    t->SetMode(1);
    t->SetSettingA(-42);
    CClipEvent* e = AddEvent(*t, drums, 0, 1000);
    e->m_nVolume = 99;
    e->m_nPan = -100;
    e->m_nMode = 3;
    e->m_nPos1 = 418;
    e->m_nPos2 = -2;
    e->m_nPos3 = 3;
    e->m_nPos4 = 4;
    e->m_nPos5 = 5;
    e->m_nPos6 = -6;
    AddEvent(*t, bass, 500, 250)->m_bActive = 0;
    AddTrack(*i1, "Empty");

    CVariation* v1 = AddVariation(*verse, "Verse A", 2000);
    CVariation* v2 = AddVariation(*verse, "Verse B", 3000);
    AddEvent(*AddTrack(*v1, "Bass"), bass, 100, 1900);
    AddEvent(*AddTrack(*v2, "Bass"), bass, -10, 3000);
    AddVariation(*verse, "Verse silent", 0);
    AddVariation(*outro, "Outro A", 500);

    AddArrangement(*song, "Main", {intro, verse, verse, outro})->SetSettingA(12);
    AddArrangement(*song, "Short", {verse})->SetSettingB(34);
    return song;
}

std::vector<std::string> SampleClipData(const CSong& song)
{
    std::vector<std::string> data;
    for (int i = 0; i < song.GetClipCount(); ++i)
        data.push_back(std::string(static_cast<size_t>(10 + 7 * i), static_cast<char>('a' + i)));
    return data;
}

} // namespace testutil
