#include "song/SongDocument.h"

#include <exception>

namespace {
const char kBadFileMessage[] = "File is not a VNF or is corrupted.";
}

CSongDocument::CSongDocument() = default;

CSongDocument::~CSongDocument()
{
    // The arrangement state refers into the song: clear it before the song goes.
    ClearArrangement();
}

int CSongDocument::Load(const CFileSource& source)
{
    std::unique_ptr<CSong> song;
    try {
        song = m_loader.Load(source);
    } catch (const std::exception&) {
        // The file could not be opened: everything stays as it was.
        return ERR_BAD_FILE;
    }
    // The new song replaces the old one; nothing may keep pointing into the old one.
    ClearArrangement();
    m_pSong = std::move(song);
    m_strFormatText = m_loader.m_strHeaderText;
    m_nFormatFlags = m_loader.m_nFormatFlags;
    m_nFormatVersion = m_loader.m_nFormatVersion;
    if (m_pSong)
        return 1;
    m_strLastError = kBadFileMessage;
    return ERR_BAD_FILE;
}

std::string CSongDocument::GetFormatId() const
{
    if (!m_pSong)
        return std::string();
    std::string id = m_strFormatText;
    id += static_cast<char>(m_nFormatFlags);
    id += static_cast<char>(m_nFormatVersion);
    return id;
}

std::string CSongDocument::GetAuthor() const { return m_pSong ? m_pSong->GetAuthor() : std::string(); }
std::string CSongDocument::GetPublisher() const { return m_pSong ? m_pSong->GetPublisher() : std::string(); }
std::string CSongDocument::GetGenre() const { return m_pSong ? m_pSong->GetGenre() : std::string(); }
std::string CSongDocument::GetCopyright() const { return m_pSong ? m_pSong->GetCopyright() : std::string(); }
