// The shared H.264 conformance corpus (streams, their reference hashes and the manifest that
// describes them), and a decode loop that feeds a stream in pieces and checks every returned
// picture record for sanity, for the conformance, robustness and benchmark code.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "h264/h264dec.h"

namespace kestrel::test {

struct CorpusStream {
    std::string file;  // name inside the corpus folder
    uint32_t width = 0, height = 0;
    uint32_t frames = 0;  // output frames of the reference
    bool in_subset = false;
    std::string features;
    std::string name;  // the file name as a test name (letters, digits and '_')
};
inline void PrintTo(const CorpusStream& s, std::ostream* os) { *os << (s.file.empty() ? "(no corpus)" : s.file); }

// The corpus folder, and whether its manifest is there (tests skip without it).
std::string CorpusDir();
bool CorpusPresent();
// Rows of MANIFEST.tsv in file order; empty when the corpus is absent or unreadable.
std::vector<CorpusStream> ReadManifest();

std::vector<uint8_t> ReadBytes(const std::string& path);
// The stream's bytes and the hash column of the .framemd5 beside it.
std::vector<uint8_t> StreamBytes(const CorpusStream& s);
std::vector<std::string> ReferenceHashes(const CorpusStream& s);
std::vector<std::string> ReadFrameMd5Hashes(const std::string& path);

struct PictureRecord {
    std::string md5;  // cropped picture, planar Y, Cb, Cr
    bool damaged = false;
    uint32_t width = 0, height = 0;  // after cropping
};

struct DecodeRun {
    std::vector<PictureRecord> pictures;
    // What was wrong with the returned records (a null plane, a size beyond the instance, a
    // picture stream that does not end); empty when all is well.
    std::vector<std::string> faults;
};

// Next piece size, at least 1.
using PieceSource = std::function<uint32_t()>;
PieceSource WholeStream();
// Pieces of 1..max_piece bytes from a seeded generator.
PieceSource RandomPieces(uint64_t seed, uint32_t max_piece);

// Instance limits for a stream: its largest SPS when one is found, else the defaults.
H264DecAttributes AttributesFor(const std::vector<uint8_t>& stream, uint32_t work_mode);

// Feeds the stream piece by piece (consuming pending input after each returned picture), then
// flushes; `hash` false skips the MD5s for speed.
DecodeRun Decode(const std::vector<uint8_t>& stream, const H264DecAttributes& attr, const PieceSource& pieces,
                 bool hash = true);

// Where the first of `got` differs from `want` (an index, or the shorter length), for messages.
std::string FirstDifference(const std::vector<std::string>& want, const std::vector<PictureRecord>& got);

bool SanitizerRun();

}  // namespace kestrel::test
