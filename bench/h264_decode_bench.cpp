// Whole-stream H.264 decode through the library, in the engine's decoding order, in frames per
// second of CPU time: the streams bench/h264_vs_ffmpeg makes and caches (their folder from
// KESTREL_BENCH_CACHE, else $XDG_CACHE_HOME/kestrel/h264-bench or ~/.cache/kestrel/h264-bench)
// and the in-subset streams of the conformance corpus. Each stream is first checked against its
// reference; one we do not decode bit-exact yet is labelled so, and its rate means nothing.
//
//   bench_h264_decode [--benchmark_filter=cached/]   only the generated streams
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/h264/corpus.h"

namespace {

using namespace kestrel;

struct Stream {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<std::string> reference;
};

std::string CacheDir() {
    if (const char* c = std::getenv("KESTREL_BENCH_CACHE")) return c;
    if (const char* x = std::getenv("XDG_CACHE_HOME")) return std::string(x) + "/kestrel/h264-bench";
    if (const char* h = std::getenv("HOME")) return std::string(h) + "/.cache/kestrel/h264-bench";
    return {};
}

void BM_DecodeStream(benchmark::State& state, std::shared_ptr<Stream> s) {
    if (s->bytes.empty()) s->bytes = test::ReadBytes(s->path);
    const H264DecAttributes attr = test::AttributesFor(s->bytes, 0);
    const test::DecodeRun check = test::Decode(s->bytes, test::AttributesFor(s->bytes, H264DEC_MODE_OUTPUT_ORDER),
                                               test::WholeStream());
    const std::string wrong = test::FirstDifference(s->reference, check.pictures);
    uint64_t pictures = 0;
    for (auto _ : state) {
        H264Dec* d = h264dec_create(&attr);
        H264DecFrame f;
        for (int32_t r = h264dec_decode(d, s->bytes.data(), static_cast<uint32_t>(s->bytes.size()), 0, 0, &f, 0);
             r == H264DEC_PICTURE; r = h264dec_decode(d, nullptr, 0, 0, 0, &f, 0))
            ++pictures;
        while (h264dec_decode(d, nullptr, 0, 0, 0, &f, H264DEC_FLAG_FLUSH) == H264DEC_PICTURE) ++pictures;
        h264dec_destroy(d);
    }
    state.counters["frames/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
    if (!wrong.empty()) state.SetLabel("NOT BIT-EXACT: " + wrong);
}

void Register(const std::string& name, const std::string& path, std::vector<std::string> reference) {
    auto s = std::make_shared<Stream>();
    s->path = path;
    s->reference = std::move(reference);
    benchmark::RegisterBenchmark(name.c_str(), BM_DecodeStream, s)->Unit(benchmark::kMillisecond)->MinTime(1.0);
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const std::string cache = CacheDir();
    std::error_code ec;
    std::vector<fs::path> cached;
    if (!cache.empty())
        for (const auto& e : fs::directory_iterator(cache, ec))
            if (e.path().extension() == ".264" && e.path().filename().string().rfind("corpus_", 0) != 0)
                cached.push_back(e.path());
    std::sort(cached.begin(), cached.end());
    for (const fs::path& p : cached) {
        fs::path ref = p;
        ref.replace_extension(".framemd5");
        Register("cached/" + p.stem().string(), p.string(), test::ReadFrameMd5Hashes(ref.string()));
    }
    if (cached.empty())
        std::fprintf(stderr, "no cached streams in %s: run bench/h264_vs_ffmpeg once to make them\n", cache.c_str());
    for (const test::CorpusStream& s : test::ReadManifest())
        if (s.in_subset) Register("corpus/" + s.name, test::CorpusDir() + "/" + s.file, test::ReferenceHashes(s));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
