// kestrel-make-sample: the two steps behind samples/make_sample.sh.
//
//   kestrel-make-sample pattern FRAMES          raw 704x576 I420 frames on stdout (the picture)
//   kestrel-make-sample pack STREAM.264 OUT.h64 an H.264 byte stream, one access unit per video
//                                               packet, with ADPCM sound and key-frame date-times
//
// The picture: four flat colour fields (red, green, blue, yellow at the corners) that a test can
// look for on screen, and between them a grey band of drifting stripes with a white square
// moving across and a seven-segment count of the seconds. The sound: a quiet 440 Hz tone with an 880 Hz pip at every
// second, 8000 samples per second in 168-byte blocks of 40 ms, one after each video packet.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/adpcm_codec.h"
#include "engine/h64_format.h"
#include "tests/support/recording_writer.h"

namespace {

constexpr int kWidth = 704, kHeight = 576;
constexpr uint32_t kResolution704x576 = 3;
constexpr uint32_t kFrameMs = 40, kFirstStamp = 3600000, kFirstFrameNumber = 1;
constexpr int kFramesPerSecond = 25;
constexpr int kBandTop = 256, kBandBottom = 320;  // the grey band between the colour fields

struct Yuv {
    uint8_t y, u, v;
};
// ITU-R BT.601 video range.
constexpr Yuv kRed{81, 90, 240}, kGreen{145, 54, 34}, kBlue{41, 240, 110}, kYellow{210, 16, 146};
constexpr Yuv kGrey{126, 128, 128}, kWhite{235, 128, 128}, kBlack{16, 128, 128};

struct Frame {
    std::vector<uint8_t> y = std::vector<uint8_t>(kWidth * kHeight);
    std::vector<uint8_t> u = std::vector<uint8_t>(kWidth * kHeight / 4);
    std::vector<uint8_t> v = std::vector<uint8_t>(kWidth * kHeight / 4);

    // x, y, w, h even: chroma follows luma exactly.
    void Box(int x, int y0, int w, int h, Yuv c) {
        for (int r = y0; r < y0 + h; ++r) std::memset(&y[size_t(r) * kWidth + x], c.y, size_t(w));
        for (int r = y0 / 2; r < (y0 + h) / 2; ++r) {
            std::memset(&u[size_t(r) * kWidth / 2 + x / 2], c.u, size_t(w / 2));
            std::memset(&v[size_t(r) * kWidth / 2 + x / 2], c.v, size_t(w / 2));
        }
    }
};

// Segments a..g of a seven-segment digit.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void Digit(Frame& f, int x, int y, int d) {
    const int L = 16, T = 4;  // segment length and thickness
    const struct { int x, y, w, h; } seg[7] = {
        {T, 0, L, T}, {T + L, T, T, L}, {T + L, 2 * T + L, T, L}, {T, 2 * (T + L), L, T},
        {0, 2 * T + L, T, L}, {0, T, T, L}, {T, T + L, L, T}};
    for (int s = 0; s < 7; ++s)
        if (kSegments[d] >> s & 1) f.Box(x + seg[s].x, y + seg[s].y, seg[s].w, seg[s].h, kWhite);
}

int Pattern(int frames) {
    Frame f;
    for (int i = 0; i < frames; ++i) {
        f.Box(0, 0, kWidth / 2, kBandTop, kRed);
        f.Box(kWidth / 2, 0, kWidth / 2, kBandTop, kGreen);
        f.Box(0, kBandBottom, kWidth / 2, kHeight - kBandBottom, kBlue);
        f.Box(kWidth / 2, kBandBottom, kWidth / 2, kHeight - kBandBottom, kYellow);
        f.Box(0, kBandTop, kWidth, kBandBottom - kBandTop, kGrey);
        // Soft stripes drifting to the right under the square: motion with texture.
        for (int r = kBandTop; r < kBandBottom; ++r)
            for (int x = 0; x < kWidth; ++x)
                f.y[size_t(r) * kWidth + size_t(x)] =
                    uint8_t(kGrey.y + std::lround(40.0 * std::sin((x - 3 * i + r / 2) * (2 * M_PI / 48))));
        const int span = kWidth - 48 - 120;
        const int pos = (i * 8) % (2 * span);
        f.Box((pos < span ? pos : 2 * span - pos) & ~1, kBandTop + 8, 48, 48, kWhite);
        const int seconds = i / kFramesPerSecond;
        f.Box(kWidth - 104, kBandTop + 4, 96, 56, kBlack);
        Digit(f, kWidth - 96, kBandTop + 8, seconds / 10 % 10);
        Digit(f, kWidth - 56, kBandTop + 8, seconds % 10);
        for (const auto* plane : {&f.y, &f.u, &f.v})
            if (std::fwrite(plane->data(), 1, plane->size(), stdout) != plane->size()) return 1;
    }
    return 0;
}

struct Nal {
    size_t begin, end;  // the unit without its start code
    int type;
};

std::vector<Nal> SplitNals(const std::vector<uint8_t>& s) {
    std::vector<size_t> starts;  // first byte after each start code
    for (size_t i = 0; i + 3 <= s.size(); ++i)
        if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    std::vector<Nal> nals;
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : s.size();
        while (end > starts[k] && s[end - 1] == 0) --end;  // a zero_byte of the next start code
        if (end > starts[k]) nals.push_back({starts[k], end, s[starts[k]] & 0x1F});
    }
    return nals;
}

int Pack(const char* streamPath, const char* outPath) {
    std::ifstream in(streamPath, std::ios::binary);
    const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (stream.empty()) {
        std::fprintf(stderr, "kestrel-make-sample: cannot read %s\n", streamPath);
        return 1;
    }
    // Access units: parameter sets open one; so does a slice whose first_mb_in_slice is 0 (its
    // first bit is 1) when the unit already holds a slice. The encoder's SEI is left out.
    std::vector<std::vector<uint8_t>> units(1);
    std::vector<bool> key(1, false);
    bool unitHasSlice = false;
    for (const Nal& n : SplitNals(stream)) {
        const bool slice = n.type == 1 || n.type == 5;
        const bool firstSlice = slice && n.end > n.begin + 1 && (stream[n.begin + 1] & 0x80);
        if (n.type == 6) continue;
        if (unitHasSlice && (n.type == 7 || n.type == 8 || firstSlice)) {
            units.emplace_back();
            key.push_back(false);
            unitHasSlice = false;
        }
        static const uint8_t kStartCode[4] = {0, 0, 0, 1};
        units.back().insert(units.back().end(), kStartCode, kStartCode + 4);
        units.back().insert(units.back().end(), stream.begin() + long(n.begin), stream.begin() + long(n.end));
        unitHasSlice = unitHasSlice || slice;
        if (n.type == 5) key.back() = true;
    }

    kestrel::AdpcmCodec* codec = nullptr;
    if (kestrel::adpcm_create(3, &codec) != 0) return 1;
    kestrel::testing::RecordingWriter w(outPath);
    const kestrel::engine::DateTime start{2024, 5, 17, 9, 30, 0};
    constexpr int kSamplesPerBlock = 320;
    std::vector<int16_t> pcm(kSamplesPerBlock);
    uint8_t block[8 + kSamplesPerBlock / 2];
    uint32_t keyFrames = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t stamp = kFirstStamp + uint32_t(i) * kFrameMs;
        kestrel::testing::VideoFrame f;
        f.codec = kestrel::engine::kCodecH264;
        f.resolution = kResolution704x576;
        f.key = key[i];
        f.frameNumber = kFirstFrameNumber + uint32_t(i);
        f.stamp = stamp;
        f.dateTime = kestrel::testing::DateTimeAfter(start, uint32_t(i) * kFrameMs / 1000);
        f.data = units[i];
        w.Video(f);
        keyFrames += f.key;

        for (int s = 0; s < kSamplesPerBlock; ++s) {
            const double t = double(i * kSamplesPerBlock + size_t(s)) / 8000.0;
            const bool pip = std::fmod(t, 1.0) < 0.1;
            pcm[size_t(s)] = int16_t(std::lround((pip ? 9000.0 : 3000.0) * std::sin(2 * M_PI * (pip ? 880 : 440) * t)));
        }
        const int32_t bytes = kestrel::adpcm_encode(codec, pcm.data(), pcm.size(), block, sizeof block);
        w.Audio(stamp, std::span<const uint8_t>(block, size_t(bytes)));
    }
    kestrel::adpcm_release(codec);
    if (!w.Close()) {
        std::fprintf(stderr, "kestrel-make-sample: cannot write %s\n", outPath);
        return 1;
    }
    std::fprintf(stderr, "kestrel-make-sample: %zu video packets (%u key frames) and as many audio blocks\n",
                 units.size(), keyFrames);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "pattern") return Pattern(std::atoi(argv[2]));
    if (argc == 4 && std::string(argv[1]) == "pack") return Pack(argv[2], argv[3]);
    std::fprintf(stderr, "usage: kestrel-make-sample pattern FRAMES | pack STREAM.264 OUT.h64\n");
    return 2;
}
