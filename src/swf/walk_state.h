// The tag walk's own state, shared by the files of the movie object.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include <memory>

#include "audio/mp3_frame.h"
#include "audio/sound_decoder.h"
#include "platform/pending_file.h"
#include "swf/swf_movie.h"

// Stream state of one timeline (the main one or a sprite's).
struct StreamState {
    int32_t format = 0;
    int32_t rateIndex = 0;
    int32_t is16Bit = 0;
    int32_t isStereo = 0;
    int32_t samplesPerBlock = 0;
    bool counted = false;  // a stream this program extracts, open or not: FinishStream ends it
    bool open = false;     // exactly when output is pending
    bool failed = false;   // a block could not be written: the file goes at the end
    uint64_t dataBytes = 0;  // sample bytes in a WAV output
    uint64_t blockBytes = 0; // data of its blocks: a stream that decodes to nothing is still found
    CMp3FrameCounter mp3Frames;  // MP3: the samples its frames decode to
    std::unique_ptr<CSoundDecoder> decoder;  // coded formats: one decoder from head to end
    platform::PendingFile output;
    CSoundElement pending;
    CSoundFinding finding;
};

// What a coded format (Nellymoser, Speex, G.711) decodes to.
struct CodedLayout {
    CodedFormat codec;
    uint32_t rate;
    int channels;
};
// False for the formats this program copies or decodes itself, and for
// those no movie tool writes.
bool CodedLayoutOf(int format, int rateIndex, bool stereo, CodedLayout& layout);

// Appends 16-bit samples to a WAV output as little-endian bytes, no more
// than the file can describe: cut tells some were dropped.
bool AppendWaveSamples(platform::File& file, uint64_t& dataBytes, const int16_t* samples, size_t count,
                       int channels, bool& cut);

// Inflates a zlib stream held in memory (size bytes at data) into exactly
// room bytes at out; false when it is damaged or ends short.
bool InflateBody(const uint8_t* data, size_t size, uint8_t* out, size_t room);

struct CSwfMovie::WalkState {
    StreamState stream;                   // of the timeline being walked
    uint16_t sprite = 0;                  // its DefineSprite's id, 0 for the main timeline
    CSoundFinding* current = nullptr;     // the sound being written
    CSoundFinding scratch;                // where writers note when no sound is current
    std::map<uint16_t, std::string> exported;  // ExportAssets names by character id
    std::map<uint16_t, std::string> classes;   // SymbolClass names
    std::list<StreamState> outer;         // of the timelines around it, innermost first
    int spriteDepth = 0;
    std::vector<uint16_t> embedded;       // DefineBinaryData ids of the movies around, outermost first
    uint64_t limit = 0;                   // end of the timeline being walked: body or sprite tag
    std::vector<uint8_t> blockBuffer;     // decoded ADPCM stream block, reused
};

// Largest body a compressed movie may inflate to, per compressed byte. Real
// movies stay below 15:1; a body far beyond that is a bomb meant to take the
// memory, and is refused before anything is allocated for it. Small bodies
// are allowed whatever their ratio.
constexpr uint64_t kMaxInflateRatio = 40;
constexpr uint64_t kAlwaysInflatable = 16u << 20;
