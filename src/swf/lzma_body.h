// The body of an LZMA-compressed ('ZWS') movie. After the usual 8 bytes
// ("ZWS", version, UI32 length counting those 8) the file holds a UI32
// compressed length, the 5 LZMA property bytes and a raw LZMA1 stream that
// may or may not end with an end marker.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

// Largest body a ZWS movie may declare per byte of its compressed stream.
// A match costs at least 12 range-coded bits of at least 0.022 bits each and
// yields at most 273 bytes, so no stream expands by more than about 8300:1
// (long runs of one byte reach about 7060:1). Callers refuse a larger
// declared body before allocating for it.
constexpr uint64_t kMaxLzmaRatio = 8400;
// The compressed length and the property bytes that precede the stream.
constexpr size_t kLzmaHeaderSize = 9;

// Reads the rest of the ZWS header from file, positioned just after its first
// 8 bytes, and decodes exactly room bytes of body into out (the body after
// the 8-byte header). Compressed bytes are read in chunks and only until the
// room is full; headerOnly reads small chunks, as a header-only load needs
// just the first few hundred bytes of stream.
//
// False when the file can't be read, the properties are invalid, the stream
// is damaged or ends (end marker or end of file) before room bytes came out.
// Data past the room is neither read nor checked, as with zlib bodies.
bool DecodeLzmaBody(platform::File& file, uint8_t* out, size_t room, bool headerOnly);
// The same from bytes in memory: data holds what follows the first 8 bytes
// (compressed length, properties, stream), size of them.
bool DecodeLzmaBody(const uint8_t* data, size_t size, uint8_t* out, size_t room);
