#include "support/flac_decode.h"

#include <FLAC/stream_decoder.h>

#include <memory>

Decoded DecodeFlac(const std::string& path)
{
    struct Deleter {
        void operator()(FLAC__StreamDecoder* d) const { FLAC__stream_decoder_delete(d); }
    };
    std::unique_ptr<FLAC__StreamDecoder, Deleter> decoder(FLAC__stream_decoder_new());
    Decoded out;
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const buffer[],
                          void* client) {
        auto* d = static_cast<Decoded*>(client);
        for (unsigned i = 0; i < frame->header.blocksize; ++i)
            for (unsigned c = 0; c < frame->header.channels; ++c)
                d->samples.push_back(buffer[c][i]);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto metadata = [](const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* client) {
        auto* d = static_cast<Decoded*>(client);
        if (m->type == FLAC__METADATA_TYPE_STREAMINFO) {
            d->channels = m->data.stream_info.channels;
            d->bits = m->data.stream_info.bits_per_sample;
            d->rate = m->data.stream_info.sample_rate;
            d->streamFrames = m->data.stream_info.total_samples;
        }
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* client) {
        static_cast<Decoded*>(client)->channels = 0;
    };
    FLAC__stream_decoder_set_md5_checking(decoder.get(), true);
    if (FLAC__stream_decoder_init_file(decoder.get(), path.c_str(), write, metadata, error, &out) !=
        FLAC__STREAM_DECODER_INIT_STATUS_OK)
        return out;
    out.ok = FLAC__stream_decoder_process_until_end_of_stream(decoder.get()) &&
             FLAC__stream_decoder_finish(decoder.get()) && out.channels != 0;
    return out;
}

