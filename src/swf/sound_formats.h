// What the sound formats of SWF sound headers are, and what the coded ones
// (Nellymoser, Speex, G.711) decode to.
#pragma once

#include <cstdint>

#include "audio/sound_decoder.h"

struct CodedLayout {
    CodedFormat codec;
    uint32_t rate;
    int channels;
};

// False for the formats this program copies or decodes itself, and for
// those no movie tool writes.
bool CodedLayoutOf(int format, int rateIndex, bool stereo, CodedLayout& layout);
