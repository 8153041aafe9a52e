// kestrel-cli decode-h264: decodes an H.264 byte stream fed in pieces of random size and prints
// the MD5 of every returned picture (cropped, planar Y, Cb, Cr), writes the pictures as raw
// yuv420p, or (--null, for timing) only counts them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "h264/h264dec.h"
#include "h264/h264dec_debug.h"
#include "h264/picture_md5.h"
#include "h264/stream_probe.h"
#include "tools/cli_command.h"

namespace kestrel::cli {
namespace {

struct Options {
    const char* stream = nullptr;
    bool output_order = false;
    bool framemd5 = false;
    bool null_output = false;
    const char* yuv = nullptr;
    uint64_t seed = 1;
    uint32_t max_piece = 4096;
    bool deinterlace = false;
    bool log = false;
};

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrel-cli decode-h264 STREAM [--order decode|output] (--framemd5 | --yuv OUT | --null)\n"
                 "       [--seed N] [--max-piece BYTES] [--deinterlace] [--log]\n");
    return 2;
}

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

class Output {
public:
    Output(const Options& o, std::FILE* yuv) : o_(o), yuv_(yuv) {}

    bool Picture(const H264DecFrame& f) {
        const uint32_t w = f.width - f.crop_left - f.crop_right;
        const uint32_t h = f.height - f.crop_top - f.crop_bottom;
        if (o_.framemd5) {
            if (count_ == 0 || w != w_ || h != h_) {
                std::printf("#format: frame checksums\n#version: 2\n#hash: MD5\n#software: kestrel-cli\n"
                            "#tb 0: 1/25\n#media_type 0: video\n#codec_id 0: rawvideo\n"
                            "#dimensions 0: %ux%u\n#sar 0: 0/1\n#stream#, dts,        pts, duration,     size, hash\n",
                            w, h);
                w_ = w;
                h_ = h;
            }
            const uint32_t size = w * h + 2 * (w / 2) * (h / 2);
            std::printf("0, %10u, %10u, %8u, %8u, %s\n", count_, count_, 1u, size, h264::PictureMd5(f).c_str());
        }
        if (yuv_) {
            bool ok = true;
            h264::ForEachCroppedRow(f, [&](const uint8_t* row, uint32_t n) {
                ok = ok && std::fwrite(row, 1, n, yuv_) == n;
            });
            if (!ok) return false;
        }
        ++count_;
        return true;
    }

    uint32_t count() const { return count_; }

private:
    const Options& o_;
    std::FILE* yuv_;
    uint32_t count_ = 0;
    uint32_t w_ = 0, h_ = 0;
};

int RunDecodeH264(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--order") {
            const char* v = value();
            if (!v) return Usage();
            if (std::strcmp(v, "output") == 0) o.output_order = true;
            else if (std::strcmp(v, "decode") != 0) return Usage();
        } else if (a == "--framemd5") {
            o.framemd5 = true;
        } else if (a == "--null") {
            o.null_output = true;
        } else if (a == "--yuv") {
            if (!(o.yuv = value())) return Usage();
        } else if (a == "--seed") {
            const char* v = value();
            if (!v) return Usage();
            o.seed = std::strtoull(v, nullptr, 0);
        } else if (a == "--max-piece") {
            const char* v = value();
            if (!v) return Usage();
            o.max_piece = static_cast<uint32_t>(std::strtoul(v, nullptr, 0));
            if (o.max_piece == 0) return Usage();
        } else if (a == "--deinterlace") {
            o.deinterlace = true;
        } else if (a == "--log") {
            o.log = true;
        } else if (!o.stream && a[0] != '-') {
            o.stream = argv[i];
        } else {
            return Usage();
        }
    }
    if (!o.stream || int{o.framemd5} + int{o.yuv != nullptr} + int{o.null_output} != 1) return Usage();

    std::vector<uint8_t> data;
    if (!ReadFile(o.stream, &data)) {
        std::fprintf(stderr, "decode-h264: cannot read %s\n", o.stream);
        return 1;
    }
    h264::StreamSize size;
    if (!h264::ProbeStreamSize(data.data(), data.size(), &size)) {
        std::fprintf(stderr, "decode-h264: %s holds no decodable sequence parameter set\n", o.stream);
        return 1;
    }
    std::FILE* yuv = nullptr;
    if (o.yuv && !(yuv = std::fopen(o.yuv, "wb"))) {
        std::fprintf(stderr, "decode-h264: cannot write %s\n", o.yuv);
        return 1;
    }
    H264DecAttributes attr{0, 0, size.width_mbs, size.height_mbs, 16,
                           (o.output_order ? uint32_t{H264DEC_MODE_OUTPUT_ORDER} : 0u) |
                               (o.deinterlace ? uint32_t{H264DEC_MODE_DEINTERLACE} : 0u)};
    H264Dec* dec = h264dec_create(&attr);
    if (!dec) {
        std::fprintf(stderr, "decode-h264: cannot create the decoder\n");
        if (yuv) std::fclose(yuv);
        return 1;
    }
    if (o.log) h264dec_set_log(dec, h264dec_log_to_stderr, nullptr);

    Output out(o, yuv);
    bool ok = true;
    uint64_t rng = o.seed ? o.seed : 0x9E3779B97F4A7C15ull;
    auto next_piece = [&]() {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return static_cast<uint32_t>(rng % o.max_piece) + 1;
    };
    H264DecFrame frame;
    size_t pos = 0;
    while (ok && pos < data.size()) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(next_piece(), data.size() - pos));
        // After a returned picture the rest of the piece is pending: continue without new input.
        for (int32_t r = h264dec_decode(dec, data.data() + pos, n, 0, 0, &frame, 0); ok && r == H264DEC_PICTURE;
             r = h264dec_decode(dec, nullptr, 0, 0, 0, &frame, 0))
            ok = out.Picture(frame);
        pos += n;
    }
    while (ok && h264dec_decode(dec, nullptr, 0, 0, 0, &frame, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE)
        ok = out.Picture(frame);
    h264dec_destroy(dec);
    if (yuv && std::fclose(yuv) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "decode-h264: writing the output failed\n");
        return 1;
    }
    if (o.null_output) std::printf("%u pictures\n", out.count());
    std::fflush(stdout);
    return 0;
}

}  // namespace

KESTREL_CLI_COMMAND(decode_h264, "decode-h264",
                    "STREAM [--order decode|output] (--framemd5 | --yuv OUT | --null) [--seed N] [--max-piece BYTES]",
                    RunDecodeH264);

}  // namespace kestrel::cli
