// The tag walk's own state, shared by the files of the movie object.
#pragma once

#include <cstdint>
#include <list>
#include <vector>

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
    platform::PendingFile output;
    CSoundElement pending;
};

struct CSwfMovie::WalkState {
    StreamState stream;                   // of the timeline being walked
    std::list<StreamState> outer;         // of the timelines around it, innermost first
    int spriteDepth = 0;
    uint64_t limit = 0;                   // end of the timeline being walked: body or sprite tag
    std::vector<uint8_t> blockBuffer;     // decoded ADPCM stream block, reused
};

// Largest body a compressed movie may inflate to, per compressed byte. Real
// movies stay below 15:1; a body far beyond that is a bomb meant to take the
// memory, and is refused before anything is allocated for it. Small bodies
// are allowed whatever their ratio.
constexpr uint64_t kMaxInflateRatio = 40;
constexpr uint64_t kAlwaysInflatable = 16u << 20;
