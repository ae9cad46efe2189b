// The records the rest of the program receives from a movie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One catalogued sound and the file that holds it.
struct CSoundElement {
    uint16_t channels = 0;     // 1 or 2
    uint16_t bits = 0;         // 8 or 16
    uint32_t sampleRate = 0;   // Hz
    uint32_t sampleCount = 0;  // sample frames
    uint32_t isMp3 = 0;        // 1: the file is MP3, 0: WAV or FLAC
    std::string path;
    bool cut = false;          // the file holds only the start: WAV files end at 4 GiB
    uint8_t format = 0;        // the movie's sound format (see SoundFormatName)
    bool isFlac = false;       // the file is FLAC (isMp3 is then 0)
};

// The extension of a catalogued sound's file, without the dot.
inline const char* FileTypeOf(const CSoundElement& sound)
{
    return sound.isMp3 ? "mp3" : sound.isFlac ? "flac" : "wav";
}

// What a conversion brings every sound to. Keep transcodes nothing: MP3 data
// stays MP3, every other sound is the WAV extraction writes.
enum class OutputType : uint8_t { Mp3, Wav, Keep, Flac };

struct SwfHeaderInfo {
    int32_t width = 0;      // pixels
    int32_t height = 0;     // pixels
    int32_t frameRate = 0;  // whole frames per second
    int32_t frameCount = 0;
    uint16_t version = 0;
};

// Why a movie could not be loaded.
enum class LoadFailure : uint8_t {
    None,
    NotReadable,  // no regular file that can be read
    NoSignature,  // no FWS, CWS or ZWS header
    BadLength,    // a declared length too short for a movie header
    Bomb,         // a compressed body that would inflate far beyond what movies do
    NoMemory,     // no memory for the body
    Damaged,      // a compressed body that is damaged or cut short
    Changed,      // the file changed (shrank, was written or renamed over) while it was being read
};

// Why a sound found in a movie has no whole file.
enum class SoundLoss : uint8_t {
    None,
    NoFolder,        // no folder took new files: the movie's, the fallbacks
    NotWritten,      // its file could not be created or written
    UnknownFormat,   // a format no tool writes
    NoDecoder,       // a coded format this build can't decode
    NothingDecoded,  // its data decodes to no sound
    Cut,             // cut at the 4 GiB a WAV file can describe
    TooMany,         // past the most sounds one movie may make files of
    TooLarge,        // past the most bytes one movie's outputs may take
    NotConverted,    // its file could not be brought to the chosen type
    Runaway,         // cut where its data decoded to far more than data of their size can hold
};

// One sound a movie holds, as its tags describe it, and what became of it.
struct CSoundFinding {
    bool stream = false;
    uint16_t characterId = 0;   // the DefineSound's id; 0 for a stream
    uint16_t sprite = 0;        // the DefineSprite whose timeline holds it; 0: the main one
    // The DefineBinaryData ids of the embedded movies it is in, outermost
    // first; empty for the movie's own sounds. sprite is then the innermost one's.
    std::vector<uint16_t> embeddedIn;
    std::string exportName;     // from ExportAssets, else SymbolClass
    uint8_t format = 0;
    uint32_t rate = 0;          // as the header's rate bits say
    uint16_t channels = 0;
    uint16_t bits = 0;
    uint32_t declaredSamples = 0;  // a DefineSound's count; a stream's blocks, added up
    int32_t seekSamples = -1;      // MP3 only: the seek or latency field
    uint64_t decodedSamples = 0;   // frames decoded (ADPCM and coded formats)
    uint32_t framesRate = 0;       // MP3: the first frame's rate, 0 when none was found
    uint16_t framesChannels = 0;
    bool overran = false;          // its data ran past its tag
    uint64_t damagedBytes = 0;     // coded: bytes the decoder had to skip
    bool conversionFailed = false; // its file stayed in the type it was extracted to (and it is lost)
    // Its data hold no sample (no bytes, or fewer than one sample frame):
    // nothing to lose, so it is neither found nor lost, and makes no file.
    bool empty = false;
    SoundLoss loss = SoundLoss::None;
    int record = -1;               // its file's place in the catalogue; -1 when lost
    // Its number among the sounds that have a file, in the order they start
    // (a stream at its head), from 1: the number its file takes where that
    // name is free. 0 for a sound with no file.
    uint32_t number = 0;
    uint64_t startOrder = 0;       // where it started among the movie's sounds
};

// A movie embedded in a movie (DefineBinaryData) whose sounds could not be
// read: it counts as a sound found and lost.
struct CLostSource {
    uint16_t id = 0;                  // the DefineBinaryData's id
    std::vector<uint16_t> embeddedIn; // the embedded movies around it, outermost first
    uint16_t sprite = 0;              // the timeline that holds its tag
    std::string reason;
};

// The sample rate a sound header's two rate bits stand for.
constexpr uint32_t SampleRateOfIndex(int rateIndex)
{
    constexpr uint32_t kRates[4] = {5512, 11025, 22050, 44100};
    return kRates[rateIndex & 3];
}

// The sound formats of SWF sound headers, by name: "PCM" (0 and 3, native and
// little-endian), "ADPCM", "MP3", "Nellymoser" (4 to 6), "A-law", "µ-law",
// "Speex", or "" for a format no movie tool writes.
const char* SoundFormatName(int format);
