// Encodes 16-bit PCM to an MP3 file through one LAME encoder context. The
// file holds MPEG audio frames only: no ID3 tag, no VBR/Info frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/pending_file.h"

struct lame_global_struct;

class CMp3Encoder {
public:
    // Values for SetMode, as the library numbers them.
    enum Mode { kStereo = 0, kJointStereo = 1, kMono = 3 };

    CMp3Encoder();
    virtual ~CMp3Encoder();
    CMp3Encoder(const CMp3Encoder&) = delete;
    CMp3Encoder& operator=(const CMp3Encoder&) = delete;

    // Starts the output file (never replacing an existing one; it is written
    // under a temporary name and takes its own at Close) and a fresh encoder
    // context. A context still open is closed first.
    bool Open(const std::string& path);
    // The same into a new file the caller created, which Close then hands
    // back finished instead of moving it.
    bool Open(platform::PendingFile out);

    // Settings; only between Open and InitParams.
    void SetSampleRate(int rate);
    void SetChannels(int channels);  // clamped to 1..2
    void SetMode(int mode);          // other values mean stereo
    void SetWriteVbrTag(bool on);
    bool InitParams();

    // Output sample rate the library chose; 0 before InitParams.
    int OutSampleRate() const;
    // The rate the library chooses for a sound of this rate and channel
    // count, set up as ConvertWavToMp3 sets it up; 0 when it refuses.
    static uint32_t ChosenRate(uint32_t rate, int channels);

    // Encodes count frames of 16-bit samples; right is ignored for mono.
    // False when the library fails or a write comes up short.
    bool Encode(const int16_t* left, const int16_t* right, size_t count);

    // Flushes the last frames, writes them, closes the file and moves it under
    // its name. False (and no file) if the flush, any write, the close or the
    // move failed. Harmless when nothing is open.
    bool Close();
    // Ends an encoder opened on a caller's file: flushed, synced and closed,
    // the file goes back to out, still under its temporary name.
    bool Close(platform::PendingFile& out);

    // Gives up: releases the context and deletes the file this encoder made.
    void Discard();

private:
    struct ContextDeleter {
        void operator()(lame_global_struct* gfp) const;
    };

    bool WriteOut(int bytes);
    // Encodes the last frames and releases the context.
    bool Flush();

    platform::PendingFile m_file;
    std::unique_ptr<lame_global_struct, ContextDeleter> m_lame;
    bool m_initialized = false;
    bool m_failed = false;
    // Enough for one 1152-frame block (1.25 * 1152 + 7200) and for the flush.
    std::array<unsigned char, 16384> m_buffer{};
};
