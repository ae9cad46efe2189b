// The one WAV layout the program writes: a 44-byte header, then PCM samples.
#pragma once

#include <array>
#include <cstdint>

#include "platform/file.h"

constexpr size_t kWaveHeaderSize = 44;
// Most sample bytes a file of this layout can describe: both length fields
// are 32-bit, and the RIFF one counts 36 header bytes as well.
constexpr uint64_t kMaxWaveDataBytes = 0xFFFFFFFFull - 36;

// The header with both length fields holding the placeholder 4.
std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(uint16_t channels, uint16_t bits, uint32_t rate);

// Writes the RIFF and data lengths from the file's real length. False when the
// length can't be had or a write fails.
bool PatchWaveLengths(platform::File& file);
