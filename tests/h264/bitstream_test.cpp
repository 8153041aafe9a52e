// Start-code scanning, emulation prevention and the bit reader.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "h264/bit_reader.h"
#include "h264/start_code_scanner.h"
#include "tests/support/h264writer.h"

namespace kestrel::h264 {
namespace {

using Bytes = std::vector<uint8_t>;

struct Scanner {
    explicit Scanner(uint32_t capacity = 1024) : buffer(capacity + kBitReaderPadding) { s.Init(buffer.data(), capacity); }
    // Feeds data in pieces of `piece` bytes and returns every unit found.
    std::vector<Bytes> Feed(const Bytes& data, size_t piece) {
        std::vector<Bytes> units;
        for (size_t pos = 0; pos < data.size(); pos += piece) {
            const uint8_t* p = data.data() + pos;
            const uint8_t* end = data.data() + std::min(data.size(), pos + piece);
            while (p < end) {
                bool complete = false;
                p = s.Scan(p, end, &complete);
                if (complete) units.emplace_back(s.unit(), s.unit() + s.unit_size());
            }
        }
        return units;
    }
    std::vector<uint8_t> buffer;
    StartCodeScanner s;
};

TEST(StartCodeScanner, CutsUnitsAndRemovesEmulationPrevention) {
    const Bytes stream = {0x12, 0x34,                    // before the first start code: ignored
                          0, 0, 0, 1, 0x67, 1, 2,        // unit 1
                          0, 0, 1, 0x68, 0, 0, 3, 1, 9,  // 00 00 03 loses its 03
                          0, 0, 0, 1, 0x65, 0, 0, 3, 3, 7, 0, 0,  // 00 00 03 03 keeps the second 03; trailing zeros go
                          0, 0, 1, 0x41, 0x80, 0, 0, 1};
    const std::vector<Bytes> expected = {{0x67, 1, 2}, {0x68, 0, 0, 1, 9}, {0x65, 0, 0, 3, 7}, {0x41, 0x80}};
    EXPECT_EQ(Scanner().Feed(stream, stream.size()), expected);
}

TEST(StartCodeScanner, ScansInputSplitAtAnyByteLikeTheWhole) {
    Bytes stream = test::SpsNal({});
    test::Append(stream, test::PpsNal({}));
    test::Append(stream, test::MakeNal(1, 5, {0x88, 0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 0xff, 0, 0}));
    test::Append(stream, Bytes{0, 0, 0, 1});
    const std::vector<Bytes> whole = Scanner().Feed(stream, stream.size());
    ASSERT_EQ(whole.size(), 3u);
    for (size_t piece = 1; piece < stream.size(); ++piece) EXPECT_EQ(Scanner().Feed(stream, piece), whole) << piece;
    // and cut once at every position, the two parts in separate calls
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Scanner sc;
        std::vector<Bytes> units = sc.Feed(Bytes(stream.begin(), stream.begin() + cut), cut);
        std::vector<Bytes> rest = sc.Feed(Bytes(stream.begin() + cut, stream.end()), stream.size());
        units.insert(units.end(), rest.begin(), rest.end());
        EXPECT_EQ(units, whole) << cut;
    }
}

TEST(StartCodeScanner, DropsAnOversizedUnitWholeAndResumesAtTheNextStartCode) {
    Bytes stream = {0, 0, 1, 0x65};
    stream.insert(stream.end(), 40, 0x55);  // longer than the 32-byte buffer
    test::Append(stream, Bytes{0, 0, 1, 0x67, 7, 0, 0, 1});
    Scanner sc(32);
    const std::vector<Bytes> units = sc.Feed(stream, stream.size());
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0], (Bytes{0x67, 7}));
    EXPECT_EQ(sc.s.dropped_oversized(), 1u);
}

BitReader ReaderOver(Bytes& bytes) {
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    bytes.resize(n + kBitReaderPadding, 0);
    BitReader br;
    br.Init(bytes.data(), n, (n - 1) * 8);
    return br;
}

TEST(BitReader, ReadsExpGolombCodesAndFixedFields) {
    test::BitWriter w;
    const uint32_t ue[] = {0, 1, 2, 3, 7, 254, 65535, 65536, 0x7FFFFFFE, 0xFFFFFFFE};
    const int32_t se[] = {0, 1, -1, 2, -2, 1000, -1000, 2147483647, -2147483647};
    for (uint32_t v : ue) w.Ue(v);
    for (int32_t v : se) w.Se(v);
    w.U(32, 0xDEADBEEF);
    w.U(3, 5);
    w.Trailing();
    Bytes bytes = w.data();
    BitReader br = ReaderOver(bytes);
    for (uint32_t v : ue) EXPECT_EQ(br.Ue(), v);
    for (int32_t v : se) EXPECT_EQ(br.Se(), v);
    EXPECT_EQ(br.U(32), 0xDEADBEEFu);
    EXPECT_EQ(br.U(3), 5u);
    EXPECT_FALSE(br.error());
    EXPECT_FALSE(br.MoreRbspData());
}

TEST(BitReader, ThirtyTwoLeadingZerosAreAnError) {
    Bytes bytes = {0, 0, 0, 0, 1, 0x80};
    BitReader br = ReaderOver(bytes);
    br.Ue();
    EXPECT_TRUE(br.error());
}

TEST(BitReader, MoreRbspDataLooksAtTheStopBit) {
    struct Case {
        Bytes bytes;
        uint32_t skip;
        bool more;
    };
    const Case cases[] = {
        {{0xA5, 0x80}, 0, true},   // a whole byte before the stop byte
        {{0xA5, 0x80}, 8, false},  // at the stop byte
        {{0xB0}, 0, true},         // 1 0 1 1 then stop bit: data left
        {{0xB0}, 3, false},        // only "1 0 0 0 0" left
        {{0xB0}, 4, false},        // past the stop bit (zeros only): damaged, nothing more
        {{0x01}, 7, false},
        {{0x01}, 6, true},         // a 0 bit, then the stop bit
    };
    for (const Case& c : cases) {
        Bytes b = c.bytes;
        BitReader br = ReaderOver(b);
        br.Skip(c.skip);
        EXPECT_EQ(br.MoreRbspData(), c.more) << int(c.bytes[0]) << " skip " << c.skip;
    }
}

TEST(BitReader, ReadsPastTheEndYieldZerosAndStayInsideTheBuffer) {
    Bytes bytes = {0xFF, 0x80};
    BitReader br = ReaderOver(bytes);
    br.Skip(16);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(br.U(32), 0u);
    EXPECT_LE(br.position(), (2u + 8u) * 8u);
    EXPECT_EQ(br.BytesLeft(), 0u);
}

}  // namespace
}  // namespace kestrel::h264
