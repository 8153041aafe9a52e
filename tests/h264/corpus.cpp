#include "tests/h264/corpus.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "h264/picture_md5.h"
#include "h264/stream_probe.h"

namespace kestrel::test {

std::string CorpusDir() { return std::string(KESTREL_SHARED_DIR) + "/h264-conformance"; }

bool CorpusPresent() { return std::ifstream(CorpusDir() + "/MANIFEST.tsv").good(); }

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

std::string TestName(const std::string& file) {
    std::string n = file;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

uint32_t Number(const std::string& s) { return static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 10)); }

}  // namespace

std::vector<CorpusStream> ReadManifest() {
    std::vector<CorpusStream> rows;
    std::ifstream in(CorpusDir() + "/MANIFEST.tsv");
    std::string line;
    if (!std::getline(in, line)) return rows;
    const std::vector<std::string> head = SplitTabs(line);
    auto column = [&](const char* name) {
        return static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin());
    };
    const size_t file = column("file"), width = column("width"), height = column("height"),
                 frames = column("frames"), subset = column("in_subset"), features = column("features");
    const size_t needed = std::max({file, width, height, frames, subset, features});
    if (needed >= head.size()) return rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() <= needed || f[file].empty()) continue;
        CorpusStream s;
        s.file = f[file];
        s.width = Number(f[width]);
        s.height = Number(f[height]);
        s.frames = Number(f[frames]);
        s.in_subset = f[subset] == "yes";
        s.features = f[features];
        s.name = TestName(s.file);
        rows.push_back(s);
    }
    return rows;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> StreamBytes(const CorpusStream& s) { return ReadBytes(CorpusDir() + "/" + s.file); }

std::vector<std::string> ReadFrameMd5Hashes(const std::string& path) {
    std::vector<std::string> hashes;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        std::string h = line.substr(comma + 1);
        h.erase(0, h.find_first_not_of(' '));
        h.erase(h.find_last_not_of(" \r") + 1);
        hashes.push_back(h);
    }
    return hashes;
}

std::vector<std::string> ReferenceHashes(const CorpusStream& s) {
    const std::string base = s.file.substr(0, s.file.rfind('.'));
    return ReadFrameMd5Hashes(CorpusDir() + "/" + base + ".framemd5");
}

PieceSource WholeStream() {
    return [] { return uint32_t{1} << 30; };
}

PieceSource RandomPieces(uint64_t seed, uint32_t max_piece) {
    // xorshift64: the same seed gives the same cuts on every machine
    auto state = std::make_shared<uint64_t>(seed ? seed : 0x9E3779B97F4A7C15ull);
    return [state, max_piece] {
        uint64_t& x = *state;
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<uint32_t>(x % max_piece) + 1;
    };
}

H264DecAttributes AttributesFor(const std::vector<uint8_t>& stream, uint32_t work_mode) {
    h264::StreamSize size;
    if (!h264::ProbeStreamSize(stream.data(), stream.size(), &size)) size = {};
    return H264DecAttributes{0, 0, size.width_mbs, size.height_mbs, 16, work_mode};
}

namespace {

// The effective limits of an instance made with `attr` (out-of-range values take the defaults).
struct Limits {
    uint32_t width, height, buffers;
};
Limits LimitsOf(const H264DecAttributes& a) {
    const uint32_t w = a.max_width_mbs >= 2 && a.max_width_mbs <= 128 ? a.max_width_mbs : 45;
    const uint32_t h = a.max_height_mbs >= 6 && a.max_height_mbs <= 128 ? a.max_height_mbs : 36;
    const uint32_t n = a.buffer_count == 0 ? 4 : std::min<uint32_t>(a.buffer_count, 16);
    return {16 * w, 16 * h, 2 * n + 4};
}

std::string CheckRecord(const H264DecFrame& f, const Limits& lim) {
    std::ostringstream why;
    if (!f.y || !f.u || !f.v) why << "a null plane pointer";
    else if (f.width == 0 || f.height == 0 || f.width > lim.width || f.height > lim.height)
        why << "size " << f.width << "x" << f.height << " outside the instance's " << lim.width << "x" << lim.height;
    else if (f.y_stride != f.width || f.uv_stride != f.width / 2)
        why << "strides " << f.y_stride << "/" << f.uv_stride << " for width " << f.width;
    else if (f.crop_left + f.crop_right >= f.width || f.crop_top + f.crop_bottom >= f.height)
        why << "crop " << f.crop_left << "," << f.crop_right << "," << f.crop_top << "," << f.crop_bottom
            << " leaves no picture of " << f.width << "x" << f.height;
    else if (f.buffer_index >= lim.buffers)
        why << "buffer index " << f.buffer_index << " beyond the pool of " << lim.buffers;
    else if (f.damaged > 1 || f.idr > 1 || f.parity_marker > 2)
        why << "flag words damaged " << f.damaged << ", idr " << f.idr << ", parity marker " << f.parity_marker;
    return why.str();
}

}  // namespace

DecodeRun Decode(const std::vector<uint8_t>& stream, const H264DecAttributes& attr, const PieceSource& pieces,
                 bool hash) {
    DecodeRun run;
    H264Dec* d = h264dec_create(&attr);
    if (!d) {
        run.faults.push_back("h264dec_create failed");
        return run;
    }
    const Limits lim = LimitsOf(attr);
    // Every picture needs a slice of at least 3 bytes; a flush returns at most the picture store.
    const size_t most = stream.size() / 3 + 64;
    H264DecFrame f;
    auto take = [&] {
        const std::string fault = CheckRecord(f, lim);
        if (!fault.empty()) {
            run.faults.push_back("picture " + std::to_string(run.pictures.size()) + ": " + fault);
            return false;
        }
        PictureRecord p;
        p.damaged = f.damaged != 0;
        p.width = f.width - f.crop_left - f.crop_right;
        p.height = f.height - f.crop_top - f.crop_bottom;
        if (hash) p.md5 = h264::PictureMd5(f);
        run.pictures.push_back(std::move(p));
        if (run.pictures.size() > most) {
            run.faults.push_back("more pictures than the stream can hold: the output does not end");
            return false;
        }
        return true;
    };
    bool ok = true;
    for (size_t pos = 0; ok && pos < stream.size();) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(pieces(), stream.size() - pos));
        for (int32_t r = h264dec_decode(d, stream.data() + pos, n, 0, 0, &f, 0); ok && r != H264DEC_NEED_INPUT;
             r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0)) {
            if (r != H264DEC_PICTURE) {
                run.faults.push_back("decode returned " + std::to_string(r) + " while fed");
                ok = false;
            } else {
                ok = take();
            }
        }
        pos += n;
    }
    for (int32_t r; ok;) {
        r = h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH);
        if (r == H264DEC_END_OF_STREAM) break;
        if (r != H264DEC_PICTURE) {
            run.faults.push_back("flush returned " + std::to_string(r));
            break;
        }
        ok = take();
    }
    if (ok && h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) != H264DEC_END_OF_STREAM)
        run.faults.push_back("a flush after the end of stream did not return -2");
    h264dec_destroy(d);
    return run;
}

std::string FirstDifference(const std::vector<std::string>& want, const std::vector<PictureRecord>& got) {
    const size_t n = std::min(want.size(), got.size());
    for (size_t i = 0; i < n; ++i)
        if (want[i] != got[i].md5)
            return "picture " + std::to_string(i) + " differs: " + got[i].md5 + " instead of " + want[i] +
                   (got[i].damaged ? " (marked damaged)" : "");
    if (want.size() != got.size())
        return std::to_string(got.size()) + " pictures instead of " + std::to_string(want.size()) +
               " (the first " + std::to_string(n) + " match)";
    return {};
}

bool SanitizerRun() { return std::getenv("KESTREL_SANITIZER_RUN") != nullptr; }

}  // namespace kestrel::test
