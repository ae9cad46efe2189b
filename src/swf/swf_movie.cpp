#include "swf/swf_movie.h"

#include "platform/pending_file.h"
#include "swf/movie_body.h"
#include "swf/output_place.h"

CSwfMovie::CSwfMovie() : m_body(std::make_unique<CMovieBody>()), m_place(std::make_unique<COutputPlace>())
{
    Reset();
}

CSwfMovie::~CSwfMovie() = default;

void CSwfMovie::Reset()
{
    m_body->Release();
    DiscardOutputs();
    m_place->Release();
    m_outputBytes = 0;
    m_unlisted = 0;
    m_dry = false;
    m_target = OutputType::Keep;
    m_sounds.clear();
    m_findings.clear();
    m_lostSources.clear();
    m_listed = 0;
    m_reachedEnd = false;
    m_digest.clear();
    m_digestSize = 0;
    m_listedMp3.clear();
}

bool CSwfMovie::MovieDigest(uint64_t& size, std::string& sha256) const
{
    if (m_digest.empty())
        return false;
    size = m_digestSize;
    sha256 = m_digest;
    return true;
}

SwfHeaderInfo CSwfMovie::HeaderInfo() const
{
    return m_body->HeaderInfo();
}

double CSwfMovie::FrameRate() const
{
    return m_body->FrameRate88() / 256.0;
}

bool CSwfMovie::DeclaresMoreThanItHolds() const
{
    return m_body->HoldsLessThanDeclared();
}

bool CSwfMovie::CutShort() const
{
    return DeclaresMoreThanItHolds() && !m_reachedEnd;
}

char CSwfMovie::Signature() const
{
    return m_body->Signature();
}

uint32_t CSwfMovie::DeclaredLength() const
{
    return m_body->DeclaredLength();
}

uint32_t CSwfMovie::BodyLength() const
{
    return m_body->BodyLength();
}

size_t CSwfMovie::BufferSize() const
{
    return m_body->BufferSize();
}

uint64_t CSwfMovie::FirstTag() const
{
    return m_body->FirstTag();
}

const std::string& CSwfMovie::OutputBase() const
{
    return m_place->Shown();
}

bool CSwfMovie::GetHeaderInfo(const std::string& path, SwfHeaderInfo* info)
{
    if (path.empty() || !info)
        return false;
    CMovieBody body;
    if (!body.Load(path, true))
        return false;
    *info = body.HeaderInfo();
    return true;
}

bool CSwfMovie::Load(const std::string& path, bool headerOnly)
{
    m_place->Release();
    const bool loaded = m_body->Load(path, headerOnly);
    m_loadFailure = m_body->LastFailure();
    if (loaded && !headerOnly && !m_dry)
        m_place->Pick(path);
    return loaded;
}

std::vector<std::string> CSwfMovie::OutputFolders(const std::string& swfPath)
{
    return COutputPlace::Folders(swfPath);
}

bool CSwfMovie::IsOutputName(const std::string& swfPath, std::string_view name)
{
    return COutputPlace::IsOutputName(swfPath, name);
}
