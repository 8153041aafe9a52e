// Writes ".H64" recordings packet by packet for tests and benchmarks: video payloads of any codec,
// key frames with their date-time, audio blocks, packets of types 0 and 3, garbage, truncation,
// and payloads left as holes so that a sparse file can be far larger than the disk it takes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/h64_format.h"

namespace kestrel::testing {

using engine::DateTime;

// The 16 header bytes of a packet.
std::vector<uint8_t> PacketHeaderBytes(uint32_t type, uint32_t codec, uint32_t resolution, uint32_t frameKind,
                                       uint32_t payloadLength, uint32_t frameNumber, uint32_t stamp);

struct VideoFrame {
    uint32_t codec = engine::kCodecMpeg4;
    uint32_t resolution = 0;      // row of the resolution table
    bool key = false;
    uint32_t frameNumber = 0;
    uint32_t stamp = 0;           // ms
    uint32_t dateTime = 0;        // key frames: written as the first four payload bytes
    std::span<const uint8_t> data;  // codec data (after the date-time of a key frame)
    uint32_t holeBytes = 0;       // extra payload left as a hole (not written)
    uint32_t frameKind = 0;       // used when key is false; 0 = an ordinary non-key frame
};

class RecordingWriter {
public:
    explicit RecordingWriter(std::string path);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    bool ok() const { return fd_ >= 0 && !failed_; }
    const std::string& path() const { return path_; }
    // Where the next packet begins.
    uint64_t Offset() const { return offset_; }

    // Each returns the offset of the packet it wrote.
    uint64_t Video(const VideoFrame& frame);
    uint64_t Audio(uint32_t stamp, std::span<const uint8_t> block);
    uint64_t AudioBytes(uint32_t stamp, uint32_t length, uint8_t fill = 0);  // a block of length bytes
    uint64_t Other(uint32_t type, uint32_t length);  // types 0 and 3
    // A header that claims payloadLength but is followed by only `written` bytes of it.
    uint64_t RawHeader(const std::vector<uint8_t>& header, std::span<const uint8_t> payload, uint32_t holeBytes = 0);
    void Bytes(std::span<const uint8_t> bytes);
    void Garbage(size_t count, uint8_t seed = 0x5A);  // bytes without the magic
    // Continue writing at a later offset; the gap stays a hole.
    void SkipTo(uint64_t offset);
    // Finishes the file (its size is the current offset); false on any write error.
    bool Close();

private:
    void Write(const void* data, size_t size);
    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    uint64_t offset_ = 0;
};

// A scratch folder for one test, removed with its files at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& path() const { return dir_; }

private:
    std::string dir_;
};

// A plain recording: `frames` video packets at 40 ms from stamp 1000 and frame number 100, a key
// frame every `gop` packets, one audio block of 168 bytes after each video packet.
struct SimpleRecording {
    uint32_t frames = 50;
    uint32_t gop = 25;
    uint32_t codec = engine::kCodecMpeg4;
    uint32_t resolution = 0;
    uint32_t payloadBytes = 64;
    bool audio = true;
    DateTime firstKeyTime{2012, 3, 1, 13, 45, 30};
};
bool WriteSimpleRecording(const std::string& path, const SimpleRecording& r);

// The packed date-time `seconds` after t (calendar arithmetic, no time zone).
uint32_t DateTimeAfter(const DateTime& t, uint32_t seconds);

}  // namespace kestrel::testing
