#include "swf/lzma_body.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

#include <lzma.h>

namespace {

constexpr size_t kChunk = 256 * 1024;
constexpr size_t kHeaderChunk = 1024;
// Beyond the dictionary the decoder needs its probability tables (at most
// about 30 KiB with lc + lp <= 4) and a little state.
constexpr uint64_t kDecoderOverhead = 1u << 20;

struct LzmaStream {
    lzma_stream s = LZMA_STREAM_INIT;
    ~LzmaStream() { lzma_end(&s); }
};

struct OptionsFree {
    void operator()(lzma_options_lzma* o) const { std::free(o); }
};

// Decodes room bytes into out from the stream that next hands out, a span at
// a time; next gives false when it has no more.
template <typename Next>
bool DecodeLzmaStream(const uint8_t* header, Next next, uint8_t* out, size_t room)
{
    // header[0..3], the compressed length, is not used: writers disagree on
    // whether it counts the property bytes, the stream ends itself once the
    // known body size is out, and every read is bounded by the input anyway.
    // Checking it would only refuse movies that play.
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, header + 4, 5) != LZMA_OK)
        return false;
    std::unique_ptr<lzma_options_lzma, OptionsFree> options(static_cast<lzma_options_lzma*>(filters[0].options));
    // No match can reach further back than the bytes already decoded, so a
    // dictionary as large as the body is as good as any larger one the
    // properties ask for; memory then follows the body, not a field.
    const uint64_t dictCap = std::max<uint64_t>(room, LZMA_DICT_SIZE_MIN);
    if (options->dict_size > dictCap)
        options->dict_size = static_cast<uint32_t>(dictCap);
    // The body size is known; the end marker may follow it or be missing.
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(*options, static_cast<uint64_t>(room));
    if (lzma_raw_decoder_memusage(filters) > dictCap + kDecoderOverhead)
        return false;

    LzmaStream lz;
    if (lzma_raw_decoder(&lz.s, filters) != LZMA_OK)
        return false;
    lz.s.next_out = out;
    lz.s.avail_out = room;
    while (lz.s.avail_out > 0) {
        const uint8_t* data = nullptr;
        size_t got = 0;
        if (!next(data, got) || got == 0)
            return false;
        lz.s.next_in = data;
        lz.s.avail_in = got;
        while (lz.s.avail_in > 0 && lz.s.avail_out > 0) {
            const lzma_ret rc = lzma_code(&lz.s, LZMA_RUN);
            // A full room wins over what the decoder says of the bytes after
            // it (a body declared shorter than the stream is not an error).
            if (lz.s.avail_out == 0)
                break;
            if (rc != LZMA_OK)
                return false;  // damaged, or ended short of the room
        }
    }
    return true;
}

}  // namespace

bool DecodeLzmaBody(platform::File& file, uint8_t* out, size_t room, bool headerOnly)
{
    if (!out)
        return false;
    uint8_t header[kLzmaHeaderSize];
    if (file.Read(header, sizeof header) != sizeof header || file.Failed())
        return false;
    const size_t chunkSize = headerOnly ? kHeaderChunk : kChunk;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[chunkSize]);
    if (!chunk)
        return false;
    const auto next = [&](const uint8_t*& data, size_t& size) {
        size = file.Read(chunk.get(), chunkSize);
        data = chunk.get();
        return !file.Failed();
    };
    return DecodeLzmaStream(header, next, out, room);
}

bool DecodeLzmaBody(const uint8_t* data, size_t size, uint8_t* out, size_t room)
{
    if (!out || !data || size < kLzmaHeaderSize)
        return false;
    bool given = false;
    const auto next = [&](const uint8_t*& span, size_t& spanSize) {
        span = data + kLzmaHeaderSize;
        spanSize = given ? 0 : size - kLzmaHeaderSize;
        given = true;
        return true;
    };
    return DecodeLzmaStream(data, next, out, room);
}
