// The conformance corpus, a test per stream: in-subset streams decode bit-exact against their
// reference hashes in output order, and fed in random pieces in decoding order they return each
// reference picture once; out-of-subset streams are refused without a picture. A few
// streams also go through kestrel-cli decode-h264, as a user would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/h264/corpus.h"

namespace kestrel::test {
namespace {

std::vector<CorpusStream> Streams(bool in_subset) {
    std::vector<CorpusStream> out;
    for (const CorpusStream& s : ReadManifest())
        if (s.in_subset == in_subset) out.push_back(s);
    if (out.empty()) {
        // One placeholder, so that a machine without the corpus says so instead of running nothing.
        CorpusStream none;
        none.name = "corpus_absent";
        out.push_back(none);
    }
    return out;
}

std::string Name(const testing::TestParamInfo<CorpusStream>& info) { return info.param.name; }

// A seed per stream, stable across runs and machines.
uint64_t SeedOf(const std::string& name) {
    uint64_t h = 1469598103934665603ull;
    for (char c : name) h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    return h;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Pictures of more than this many 704x576 frames' worth of samples are left to the normal build
// in the random-piece pass under the sanitizers (the output-order pass still takes them all).
constexpr double kSanitizerPieceLimit = 30.0;
double D1Frames(const CorpusStream& s) { return double(s.frames) * s.width * s.height / (704.0 * 576.0); }

class Conformance : public testing::TestWithParam<CorpusStream> {
protected:
    void SetUp() override {
        if (GetParam().file.empty()) GTEST_SKIP() << "no conformance corpus at " << CorpusDir();
        bytes_ = StreamBytes(GetParam());
        reference_ = ReferenceHashes(GetParam());
        ASSERT_FALSE(bytes_.empty()) << "cannot read " << GetParam().file;
        ASSERT_EQ(reference_.size(), GetParam().frames) << "the reference of " << GetParam().file
                                                        << " does not hold the frames its manifest row gives";
    }
    std::vector<uint8_t> bytes_;
    std::vector<std::string> reference_;
};

using InSubset = Conformance;
using OutOfSubset = Conformance;

TEST_P(InSubset, OutputOrderIsBitExact) {
    const CorpusStream& s = GetParam();
    const DecodeRun run = Decode(bytes_, AttributesFor(bytes_, H264DEC_MODE_OUTPUT_ORDER), WholeStream());
    EXPECT_TRUE(run.faults.empty()) << Joined(run.faults);
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        const PictureRecord& p = run.pictures[i];
        if (p.width != s.width || p.height != s.height) {
            ADD_FAILURE() << "picture " << i << " is " << p.width << "x" << p.height << " after cropping, not "
                          << s.width << "x" << s.height;
            break;
        }
    }
    EXPECT_EQ(FirstDifference(reference_, run.pictures), "") << s.file << " (" << s.features << ")";
    const auto damaged = std::count_if(run.pictures.begin(), run.pictures.end(),
                                       [](const PictureRecord& p) { return p.damaged; });
    EXPECT_EQ(damaged, 0) << "pictures marked damaged";
}

TEST_P(InSubset, RandomPiecesInDecodingOrderReturnEachReferencePictureOnce) {
    const CorpusStream& s = GetParam();
    if (SanitizerRun() && D1Frames(s) > kSanitizerPieceLimit)
        GTEST_SKIP() << "left to the normal build under the sanitizers (" << D1Frames(s) << " 704x576 frames)";
    const uint32_t max_piece = SanitizerRun() ? 32768 : 3000;
    const DecodeRun run = Decode(bytes_, AttributesFor(bytes_, 0), RandomPieces(SeedOf(s.name), max_piece));
    EXPECT_TRUE(run.faults.empty()) << Joined(run.faults);
    // The order may differ where the stream reorders its pictures; the pictures may not.
    std::map<std::string, int> left;
    for (const std::string& h : reference_) ++left[h];
    size_t unknown = 0;
    for (size_t i = 0; i < run.pictures.size(); ++i) {
        auto it = left.find(run.pictures[i].md5);
        if (it == left.end() || it->second == 0) {
            if (unknown++ == 0)
                ADD_FAILURE() << "picture " << i << " of the decoding order (" << run.pictures[i].md5
                              << (run.pictures[i].damaged ? ", marked damaged" : "")
                              << ") is not in the reference, or came more often than there";
            continue;
        }
        --it->second;
    }
    size_t missing = 0;
    for (const auto& [hash, n] : left) missing += static_cast<size_t>(n);
    EXPECT_EQ(unknown, 0u) << "pictures not in the reference";
    EXPECT_EQ(missing, 0u) << "reference pictures never returned, of " << reference_.size() << " ("
                           << run.pictures.size() << " returned)";
}

// Out-of-subset streams: CABAC, slice groups and the 8x8 transform are refused at the PPS, MBAFF
// at the SPS, so no picture may come out. B slices are dropped one by one while the I and P
// slices of the same stream decode: its first picture is its IDR picture, and the B pictures
// never come out.
TEST_P(OutOfSubset, RefusedWithoutAnyPicture) {
    const CorpusStream& s = GetParam();
    const bool b_slices = s.features.find("B slices") != std::string::npos;
    struct Way {
        const char* name;
        uint32_t mode;
        PieceSource pieces;
    };
    const Way ways[] = {{"output order, whole", H264DEC_MODE_OUTPUT_ORDER, WholeStream()},
                        {"decoding order, random pieces", 0, RandomPieces(SeedOf(s.name), 3000)}};
    for (const Way& w : ways) {
        const DecodeRun run = Decode(bytes_, AttributesFor(bytes_, w.mode), w.pieces);
        EXPECT_TRUE(run.faults.empty()) << w.name << ":\n" << Joined(run.faults);
        if (!b_slices) {
            EXPECT_EQ(run.pictures.size(), 0u) << w.name << ": " << s.features;
            continue;
        }
        EXPECT_LT(run.pictures.size(), reference_.size()) << w.name;
        ASSERT_FALSE(run.pictures.empty()) << w.name;
        EXPECT_EQ(run.pictures[0].md5, reference_[0]) << w.name << ": the IDR picture";
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, InSubset, testing::ValuesIn(Streams(true)), Name);
INSTANTIATE_TEST_SUITE_P(Corpus, OutOfSubset, testing::ValuesIn(Streams(false)), Name);

// kestrel-cli decode-h264 --order output --framemd5: frames, field pictures and PAFF, odd
// cropping on all sides, several slices with weighted prediction, long-term references.
struct CliCase {
    const char* file;
};
void PrintTo(const CliCase& c, std::ostream* os) { *os << c.file; }

class CliDecodeH264 : public testing::TestWithParam<CliCase> {};

TEST_P(CliDecodeH264, FrameMd5EqualsTheReference) {
    if (!CorpusPresent()) GTEST_SKIP() << "no conformance corpus at " << CorpusDir();
    const std::string file = GetParam().file;
    const std::string path = CorpusDir() + "/" + file;
    const std::string cmd = std::string(KESTREL_CLI) + " decode-h264 " + path + " --order output --framemd5 --seed " +
                            std::to_string(SeedOf(file) % 1000 + 1) + " 2>&1";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<PictureRecord> got;
    std::string other;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
        const std::string l = line;
        if (l[0] == '#') continue;
        const size_t comma = l.rfind(", ");
        if (comma == std::string::npos || l.size() < comma + 2 + 32) {
            other += l;
            continue;
        }
        PictureRecord r;
        r.md5 = l.substr(comma + 2, 32);
        got.push_back(r);
    }
    EXPECT_EQ(pclose(p), 0) << cmd << "\n" << other;
    CorpusStream s;
    s.file = file;
    EXPECT_EQ(FirstDifference(ReferenceHashes(s), got), "") << cmd;
}

TEST_P(CliDecodeH264, NullOutputCountsThePictures) {
    if (!CorpusPresent()) GTEST_SKIP() << "no conformance corpus at " << CorpusDir();
    CorpusStream s;
    s.file = GetParam().file;
    const std::string cmd = std::string(KESTREL_CLI) + " decode-h264 " + CorpusDir() + "/" + s.file + " --null";
    std::FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    EXPECT_EQ(pclose(p), 0) << cmd;
    EXPECT_EQ(out, std::to_string(ReferenceHashes(s).size()) + " pictures\n");
}

INSTANTIATE_TEST_SUITE_P(Corpus, CliDecodeH264,
                         testing::Values(CliCase{"jm_pcm_allpcm_qcif.264"}, CliCase{"CVFC1_Sony_C.jsv"},
                                         CliCase{"jm_crop_field_sif.264"}, CliCase{"jm_cip_field_cif.264"},
                                         CliCase{"x264_cif_weightp_slices.264"}, CliCase{"MR1_BT_A.h264"}),
                         [](const testing::TestParamInfo<CliCase>& info) {
                             std::string n = info.param.file;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

}  // namespace
}  // namespace kestrel::test
