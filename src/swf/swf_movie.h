// One SWF movie being read, its sounds extracted and converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/pending_file.h"
#include "swf/swf_types.h"

// Stream state of one timeline (the main one or a sprite's).
struct StreamState {
    int32_t format = 0;
    int32_t rateIndex = 0;
    int32_t is16Bit = 0;
    int32_t isStereo = 0;
    int32_t samplesPerBlock = 0;
    bool counted = false;  // a stream this program extracts, open or not: FinishStream ends it
    bool open = false;   // exactly when output is pending
    bool failed = false; // a block could not be written: the file goes at the end
    uint64_t dataBytes = 0;  // sample bytes in a WAV output
    platform::PendingFile output;
    CSoundElement pending;
};

// Largest body a compressed movie may inflate to, per compressed byte. Real
// movies stay below 15:1; a body far beyond that is a bomb meant to take the
// memory, and is refused before anything is allocated for it. Small bodies
// are allowed whatever their ratio.
constexpr uint64_t kMaxInflateRatio = 40;
constexpr uint64_t kAlwaysInflatable = 16u << 20;

class CSwfMovie {
public:
    CSwfMovie();
    virtual ~CSwfMovie();
    CSwfMovie(const CSwfMovie&) = delete;
    CSwfMovie& operator=(const CSwfMovie&) = delete;

    // --- container and bit reader ---
    bool Load(const std::string& path, bool headerOnly);
    static bool GetHeaderInfo(const std::string& path, SwfHeaderInfo* info);

    // Bytes beyond the loaded body read as zero; the cursor may pass the end.
    uint32_t ReadBits(int n);
    int32_t ReadSignedBits(int n);
    uint8_t ReadByte();
    uint16_t ReadUI16();
    uint32_t ReadUI32();
    void SkipBytes(uint32_t n);
    // The reader's place in bits from the start of the body, and a jump to
    // one; for readers that fetch bits faster than one call a field.
    uint64_t BitPosition() const { return m_cursor * 8 - static_cast<uint64_t>(m_bitCount); }
    void SeekBits(uint64_t position);
    // The loaded body (BodyLength() bytes); null while nothing is loaded.
    const uint8_t* Body() const { return m_body.get(); }

    // --- tag walk and catalogue ---
    void Reset();
    bool WalkTags(bool inSprite);
    void OnDefineSound();
    void OnSoundStreamHead();
    void OnSoundStreamBlock();
    void FinishStream();

    // --- writers and naming ---
    void PickOutputBase(const std::string& swfPath);
    std::string NextOutputName(const char* extension);
    bool OpenWaveOutput(platform::PendingFile& file, std::string& path, bool stereo, int bits, uint32_t rate);
    bool WriteMp3Sound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount);
    bool WriteAdpcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount);
    bool WritePcmSound(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount);

    // --- the job ---
    // Loads the movie and writes every sound as extracted (MP3 or WAV).
    bool Extract(const std::string& swfPath);
    // Extract, then bring every file to the chosen type.
    bool Run(const std::string& swfPath, bool toMp3);
    void ConvertAllToMp3();
    void ConvertAllToWav();

    // --- what callers read ---
    const std::list<CSoundElement>& Sounds() const { return m_sounds; }
    // Sounds the movie holds, and how many of them are in the catalogue
    // whole: a sound that could not be written, or only in part, is lost.
    uint32_t FoundCount() const { return m_found; }
    uint32_t ExtractedCount() const { return m_found - m_lost; }
    SwfHeaderInfo HeaderInfo() const;
    uint32_t BodyLength() const { return m_bodyLength; }
    size_t BufferSize() const { return m_bufferSize; }
    uint64_t Cursor() const { return m_cursor; }
    uint64_t FirstTag() const { return m_firstTag; }
    const std::string& OutputBase() const { return m_outputBase; }

private:
    void ReleaseBody();
    void DiscardBits() { m_bitCount = 0; m_bitBuffer = 0; }
    uint8_t ByteAt(uint64_t offset) const
    {
        return offset < m_bodyLength ? m_body[offset] : 0;
    }
    // Bytes from the cursor to tag end, or 0 when the cursor has passed it.
    uint32_t BytesLeftInTag() const;
    // Appends the bytes from the cursor to tag end to a file; as many as a
    // WAV file may still hold when wave is set (cut tells they were fewer).
    bool CopyTagRest(platform::File& file);
    bool CopyTagRestToWave(platform::File& file, uint64_t& dataBytes, int blockAlign, bool& cut);
    // Takes the next free output name and starts its file under a temporary
    // name; false when no file can be created.
    bool CreateOutput(const char* extension, platform::PendingFile& file, std::string& path);
    // Moves a finished output under its name, or the next free one if another
    // program took it meanwhile. False (and the file gone) on failure.
    bool CommitOutput(platform::PendingFile& file, std::string& path, const char* extension);
    bool TryOutputBase(const std::string& base);
    bool AppendRecord(int rateIndex, bool is16Bit, bool stereo, uint32_t sampleCount, bool mp3,
                      const std::string& path, bool cut = false);
    bool LoadPlain(platform::File& file, const uint8_t* header, bool headerOnly);
    bool LoadCompressed(platform::File& file, bool headerOnly);
    void ParseMovieHeader();
    // Converts one record to the other type; true when it now names the new file.
    bool ConvertRecord(CSoundElement& sound, bool toMp3);
    std::string FreeTargetName(const std::string& source, const char* extension);
    void DropSingleNumber();

    // Container.
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_frameRate = 0;
    int32_t m_frameCount = 0;
    uint16_t m_version = 0;
    std::unique_ptr<uint8_t[]> m_body;
    size_t m_bufferSize = 0;
    uint32_t m_bodyLength = 0;
    // 64 bits so that reading on past the end of a 4 GB body can't wrap around.
    uint64_t m_cursor = 0;
    uint64_t m_firstTag = 0;
    int32_t m_bitCount = 0;
    uint32_t m_bitBuffer = 0;

    // Catalogue and walk.
    std::list<CSoundElement> m_sounds;
    uint32_t m_found = 0;
    uint32_t m_lost = 0;
    bool m_toMp3 = true;
    uint64_t m_tagEnd = 0;
    uint32_t m_tagLength = 0;
    uint64_t m_walkLimit = 0;  // end of the timeline being walked: body or sprite tag
    std::list<StreamState> m_streamStack;
    StreamState m_stream;
    int m_spriteDepth = 0;
    std::vector<uint8_t> m_blockBuffer;  // decoded ADPCM stream block, reused

    // Naming.
    std::string m_outputBase;
    int m_nextNumber = 1;
};

// Converts one movie; the command line's entry point. extracted receives the
// sounds written whole, total the sounds found. False when the movie can't be
// read, or when it has sounds and none could be written. Every out pointer
// may be null.
bool ConvertSwfFile(const std::string& swfPath, long* extracted, long* total,
                    std::list<std::string>* paths, bool toMp3);
