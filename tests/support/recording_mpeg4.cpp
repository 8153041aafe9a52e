#include "tests/support/recording_mpeg4.h"

#include <fstream>
#include <iterator>

namespace kestrel::testing {

namespace {

bool StartCodeAt(std::span<const uint8_t> s, size_t i) {
    return i + 4 <= s.size() && s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1;
}

}  // namespace

std::vector<Mpeg4Picture> SplitMpeg4Pictures(std::span<const uint8_t> stream) {
    std::vector<Mpeg4Picture> pictures;
    size_t begin = 0;
    bool inVop = false;
    for (size_t i = 0; i + 4 <= stream.size(); ++i) {
        if (!StartCodeAt(stream, i)) continue;
        if (inVop) {  // the first start code after a VOP ends its picture
            pictures.back().bytes = stream.subspan(begin, i - begin);
            begin = i;
            inVop = false;
        }
        if (stream[i + 3] == 0xB6) {
            const bool intra = i + 4 < stream.size() && (stream[i + 4] >> 6) == 0;
            pictures.push_back({{}, intra});
            inVop = true;
        }
        i += 3;
    }
    if (inVop) pictures.back().bytes = stream.subspan(begin);
    return pictures;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AppendMpeg4Pictures(RecordingWriter& w, std::span<const uint8_t> stream, const Mpeg4Packets& how,
                         uint32_t& frameNumber, uint32_t& stamp) {
    for (const Mpeg4Picture& picture : SplitMpeg4Pictures(stream)) {
        VideoFrame f;
        f.codec = w.Offset() == 0 ? engine::kCodecMpeg4 : how.codecBits;
        f.resolution = how.resolution;
        f.key = picture.intra;
        f.frameNumber = frameNumber++;
        f.stamp = stamp;
        f.dateTime = DateTimeAfter({2021, 6, 1, 12, 0, 0}, stamp / 1000);
        f.data = picture.bytes;
        w.Video(f);
        if (how.audio) w.AudioBytes(stamp, 168, 0x08);
        stamp += 40;
    }
}

}  // namespace kestrel::testing
