#include "swf/sound_formats.h"

#include "swf/swf_types.h"

bool CodedLayoutOf(int format, int rateIndex, bool stereo, CodedLayout& layout)
{
    switch (format) {
    case 4: layout = {CodedFormat::Nellymoser, 16000, 1}; return true;
    case 5: layout = {CodedFormat::Nellymoser, 8000, 1}; return true;
    case 6: layout = {CodedFormat::Nellymoser, SampleRateOfIndex(rateIndex), 1}; return true;
    case 7: layout = {CodedFormat::ALaw, SampleRateOfIndex(rateIndex), stereo ? 2 : 1}; return true;
    case 8: layout = {CodedFormat::MuLaw, SampleRateOfIndex(rateIndex), stereo ? 2 : 1}; return true;
    // Speex is wideband: the rate bits are ignored.
    case 11: layout = {CodedFormat::Speex, 16000, 1}; return true;
    default: return false;
    }
}

const char* SoundFormatName(int format)
{
    switch (format) {
    case 0:
    case 3: return "PCM";
    case 1: return "ADPCM";
    case 2: return "MP3";
    case 4:
    case 5:
    case 6: return "Nellymoser";
    case 7: return "A-law";
    case 8: return "\xC2\xB5-law";
    case 11: return "Speex";
    default: return "";
    }
}

