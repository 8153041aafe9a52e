#include "tests/support/recording_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace kestrel::testing {

std::vector<uint8_t> PacketHeaderBytes(uint32_t type, uint32_t codec, uint32_t resolution, uint32_t frameKind,
                                       uint32_t payloadLength, uint32_t frameNumber, uint32_t stamp) {
    std::vector<uint8_t> h(engine::kHeaderBytes, 0);
    h[0] = 0x00;
    h[1] = 0x00;
    h[2] = 0x01;
    h[3] = 0x89;
    h[4] = payloadLength & 0xFF;
    h[5] = payloadLength >> 8 & 0xFF;
    h[6] = static_cast<uint8_t>((type & 3) | (codec & 3) << 2 | (resolution & 15) << 4);
    h[7] = static_cast<uint8_t>((frameKind & 15) | (payloadLength >> 16 & 15) << 4);
    for (int i = 0; i < 4; ++i) {
        h[8 + i] = frameNumber >> (8 * i) & 0xFF;
        h[12 + i] = stamp >> (8 * i) & 0xFF;
    }
    return h;
}

RecordingWriter::RecordingWriter(std::string path) : path_(std::move(path)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

RecordingWriter::~RecordingWriter() { Close(); }

void RecordingWriter::Write(const void* data, size_t size) {
    if (fd_ < 0 || size == 0) return;
    auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset_ + done));
        if (n <= 0) {
            failed_ = true;
            return;
        }
        done += static_cast<size_t>(n);
    }
    offset_ += size;
}

uint64_t RecordingWriter::RawHeader(const std::vector<uint8_t>& header, std::span<const uint8_t> payload,
                                    uint32_t holeBytes) {
    const uint64_t at = offset_;
    Write(header.data(), header.size());
    Write(payload.data(), payload.size());
    offset_ += holeBytes;
    return at;
}

uint64_t RecordingWriter::Video(const VideoFrame& f) {
    const uint32_t dateBytes = f.key ? engine::kDateTimeBytes : 0;
    const uint32_t length = dateBytes + static_cast<uint32_t>(f.data.size()) + f.holeBytes;
    const uint64_t at = offset_;
    const auto header = PacketHeaderBytes(engine::kPacketVideo, f.codec, f.resolution, f.key ? 1 : f.frameKind,
                                          length, f.frameNumber, f.stamp);
    Write(header.data(), header.size());
    if (f.key) {
        uint8_t d[4];
        for (int i = 0; i < 4; ++i) d[i] = f.dateTime >> (8 * i) & 0xFF;
        Write(d, 4);
    }
    Write(f.data.data(), f.data.size());
    offset_ += f.holeBytes;
    return at;
}

uint64_t RecordingWriter::Audio(uint32_t stamp, std::span<const uint8_t> block) {
    const auto header = PacketHeaderBytes(engine::kPacketAudio, 0, 0, 0, static_cast<uint32_t>(block.size()), 0, stamp);
    return RawHeader(header, block);
}

uint64_t RecordingWriter::AudioBytes(uint32_t stamp, uint32_t length, uint8_t fill) {
    std::vector<uint8_t> block(length, fill);
    return Audio(stamp, block);
}

uint64_t RecordingWriter::Other(uint32_t type, uint32_t length) {
    std::vector<uint8_t> payload(length, 0x33);
    return RawHeader(PacketHeaderBytes(type, 0, 0, 0, length, 0, 0), payload);
}

void RecordingWriter::Bytes(std::span<const uint8_t> bytes) { Write(bytes.data(), bytes.size()); }

void RecordingWriter::Garbage(size_t count, uint8_t seed) {
    std::vector<uint8_t> g(count);
    for (size_t i = 0; i < count; ++i) g[i] = static_cast<uint8_t>(seed + 7 * i) | 0x40;  // never 00 00 01 89
    Write(g.data(), g.size());
}

void RecordingWriter::SkipTo(uint64_t offset) {
    if (offset > offset_) offset_ = offset;
}

bool RecordingWriter::Close() {
    if (fd_ < 0) return !failed_;
    if (::ftruncate(fd_, static_cast<off_t>(offset_)) != 0) failed_ = true;
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
    return !failed_;
}

ScratchDir::ScratchDir() {
    std::string base = std::filesystem::temp_directory_path().string() + "/kestrel-XXXXXX";
    std::vector<char> buf(base.begin(), base.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) dir_ = buf.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

uint32_t DateTimeAfter(const DateTime& t, uint32_t seconds) {
    std::tm tm{};
    tm.tm_year = static_cast<int>(t.year) - 1900;
    tm.tm_mon = static_cast<int>(t.month) - 1;
    tm.tm_mday = static_cast<int>(t.day);
    tm.tm_hour = static_cast<int>(t.hour);
    tm.tm_min = static_cast<int>(t.minute);
    tm.tm_sec = static_cast<int>(t.second);
    const time_t s = timegm(&tm) + seconds;
    gmtime_r(&s, &tm);
    return engine::PackDateTime({static_cast<uint32_t>(tm.tm_year + 1900), static_cast<uint32_t>(tm.tm_mon + 1),
                                 static_cast<uint32_t>(tm.tm_mday), static_cast<uint32_t>(tm.tm_hour),
                                 static_cast<uint32_t>(tm.tm_min), static_cast<uint32_t>(tm.tm_sec)});
}

bool WriteSimpleRecording(const std::string& path, const SimpleRecording& r) {
    RecordingWriter w(path);
    std::vector<uint8_t> payload(r.payloadBytes, 0x11);
    const DateTime t = r.firstKeyTime;
    for (uint32_t i = 0; i < r.frames; ++i) {
        VideoFrame f;
        f.codec = r.codec;
        f.resolution = r.resolution;
        f.key = i % r.gop == 0;
        f.frameNumber = 100 + i;
        f.stamp = 1000 + 40 * i;
        f.dateTime = DateTimeAfter(t, (i * 40) / 1000);
        f.data = payload;
        w.Video(f);
        if (r.audio) w.AudioBytes(1000 + 40 * i, 168);
    }
    return w.Close();
}

}  // namespace kestrel::testing
