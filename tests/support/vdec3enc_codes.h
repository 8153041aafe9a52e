// Code words of the third codec's bitstream as the test encoder writes them: typed as bit strings,
// arranged by meaning, independently of the decoder's tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdec3enc {

class BitWriter {
 public:
  void Put(uint32_t value, int bits);      // most significant bit first
  void PutCode(const std::string& code);   // "0101" (spaces allowed)
  void PutBit(bool bit) { Put(bit ? 1 : 0, 1); }
  size_t bit_count() const { return bits_; }
  // The bytes written, padded with zero bits to a whole number of bytes.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

// Transform coefficient code (without its sign bit) for (last, run, level > 0), or "" when the
// table has none. intra: ISO/IEC 14496-2 table B-16, else B-17.
std::string CoefficientCode(bool intra, bool last, int run, int level);
// LMAX (largest level of a run) and RMAX (largest run of a level) of those tables; 0 when none.
int MaxLevel(bool intra, bool last, int run);
int MaxRun(bool intra, bool last, int level);
extern const char kEscape[];

// dct_dc_size_luminance for sizes 0..8.
std::string DcSizeCode(int size);
// CBPY (ITU-T H.263 table 12) for an intra-meaning pattern 0..15, block 0 in bit 3.
std::string CbpyCode(int pattern);
// motion_code (ISO/IEC 14496-2 table B-12) for a magnitude 0..32, without the sign bit.
std::string MotionCode(int magnitude);
// The codec's own macroblock-type codes.
std::string IntraFrameTypeCode(int cbpc);
std::string PredictedFrameTypeCode(bool intra, int cbpc);

}  // namespace vdec3enc
