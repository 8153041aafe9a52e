#include "engine/snapshot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace kestrel::engine {
namespace {

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

void FillHeaders(uint8_t* h, uint32_t width, uint32_t height, uint32_t imageBytes) {
    std::memset(h, 0, kBmpHeaderBytes);
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, kBmpHeaderBytes + imageBytes);
    Put32(h + 10, kBmpHeaderBytes);
    Put32(h + 14, 40);
    Put32(h + 18, width);
    Put32(h + 22, height);  // positive: rows bottom-up
    Put16(h + 26, 1);
    Put16(h + 28, 24);
    Put32(h + 34, imageBytes);
}

class OutputFile {
public:
    explicit OutputFile(const char* path) : file_(std::fopen(path, "wb")) {}
    ~OutputFile() {
        if (file_) std::fclose(file_);
    }
    bool Opened() const { return file_ != nullptr; }
    bool Write(const uint8_t* data, size_t bytes) {
        ok_ = ok_ && std::fwrite(data, 1, bytes, file_) == bytes;
        return ok_;
    }
    // Flushes and closes; true only when every byte reached the file.
    bool Close() {
        ok_ = ok_ && std::fflush(file_) == 0 && !std::ferror(file_);
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok_ && closed;
    }

private:
    std::FILE* file_;
    bool ok_ = true;
};

}  // namespace

// R = Y + 11/8 (V - 128), G = Y - 11/32 (U - 128) - 45/64 (V - 128), B = Y + 111/64 (U - 128),
// each truncated toward zero and clamped. Integer division truncates toward zero, and the
// fractions are exact in 64ths, so these equal the real-valued results truncated.
uint32_t SnapshotRgb(uint8_t y, uint8_t u, uint8_t v) {
    const int32_t cb = int32_t{u} - 128, cr = int32_t{v} - 128;
    const int32_t r = (8 * y + 11 * cr) / 8;
    const int32_t g = (64 * y - 22 * cb - 45 * cr) / 64;
    const int32_t b = (64 * y + 111 * cb) / 64;
    return uint32_t{Clamp255(r)} << 16 | uint32_t{Clamp255(g)} << 8 | Clamp255(b);
}

int32_t WriteBmp(const uint8_t* picture, size_t pictureBytes, uint32_t width, uint32_t height, uint32_t format,
                 const char* path) {
    if (format != kBmpFromYuv420 || picture == nullptr || path == nullptr) return 0;
    const uint64_t lumaBytes = uint64_t{width} * height;
    if (width < 2 || height < 2 || pictureBytes < lumaBytes * 3 / 2) return 0;
    const uint64_t rowBytes = BmpRowBytes(width);
    const uint64_t imageBytes = rowBytes * height;
    if (width > uint32_t(std::numeric_limits<int32_t>::max()) || height > uint32_t(std::numeric_limits<int32_t>::max()) ||
        imageBytes + kBmpHeaderBytes > std::numeric_limits<uint32_t>::max())
        return 0;

    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes]());
    if (!row) return 0;
    OutputFile file(path);
    if (!file.Opened()) return 0;
    uint8_t headers[kBmpHeaderBytes];
    FillHeaders(headers, width, height, uint32_t(imageBytes));
    file.Write(headers, sizeof headers);

    // Chroma rows and columns are half; an odd last luma row or column reuses the last chroma one.
    const uint32_t chromaWidth = width / 2, chromaHeight = height / 2;
    const uint8_t* luma = picture;
    const uint8_t* vPlane = picture + lumaBytes;
    const uint8_t* uPlane = picture + lumaBytes * 5 / 4;
    // Bottom-up: the last picture row is stored first, so the file is written front to back.
    for (uint32_t n = 0; n < height; ++n) {
        const uint32_t r = height - 1 - n;
        const size_t chromaRow = size_t{std::min(r / 2, chromaHeight - 1)} * chromaWidth;
        const uint8_t* y = luma + size_t{r} * width;
        for (uint32_t x = 0; x < width; ++x) {
            const size_t c = chromaRow + std::min(x / 2, chromaWidth - 1);
            const uint32_t rgb = SnapshotRgb(y[x], uPlane[c], vPlane[c]);
            row[3 * x] = uint8_t(rgb);
            row[3 * x + 1] = uint8_t(rgb >> 8);
            row[3 * x + 2] = uint8_t(rgb >> 16);
        }
        if (!file.Write(row.get(), rowBytes)) return 0;
    }
    return file.Close() ? 1 : 0;
}

ScaleYuv420::ScaleYuv420(uint32_t width, uint32_t sourceHeight, uint32_t destinationHeight) : width_(width) {
    const uint32_t s = sourceHeight, t = destinationHeight;
    const int64_t span = t > 1 ? int64_t{t} - 1 : 1;
    auto weight = [](int64_t q, uint32_t rows, bool last) {
        // Positions before the first row take the first row; the last row takes one row only.
        const int64_t a = q >> 8;
        const uint32_t f = uint32_t(q - 256 * a);
        if (rows == 0) return RowWeight{0, 0, 0};
        if (a < 0) return RowWeight{0, 0, 0};
        const uint32_t above = uint32_t(std::min<int64_t>(a, rows - 1));
        if (last) return RowWeight{above, above, 0};
        return RowWeight{above, std::min(above + 1, rows - 1), f};
    };
    luma_.resize(t);
    for (uint32_t j = 0; j < t; ++j) {
        const int64_t q = int64_t{j} * (int64_t{s} - 1) * 256 / span;
        luma_[j] = weight(q, s, j + 1 == t);
    }
    chroma_.resize(t / 2);
    for (uint32_t j = 0; j < t / 2; ++j) {
        // Chroma samples sit a quarter of a chroma row below their luma rows.
        const double position = (j + 0.25) * (double(s) - 1) * 256 / double(span) - 64;
        chroma_[j] = weight(static_cast<int64_t>(position), s / 2, j + 1 == t / 2);
    }
}

void ScaleYuv420::ScalePlane(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, uint32_t width,
                             const std::vector<RowWeight>& rows) const {
    for (size_t j = 0; j < rows.size(); ++j) {
        const RowWeight& w = rows[j];
        const uint8_t* above = src + w.above * srcStride;
        const uint8_t* below = src + w.below * srcStride;
        uint8_t* out = dst + j * dstStride;
        for (uint32_t x = 0; x < width; ++x)
            out[x] = uint8_t((above[x] * (256 - w.weight) + below[x] * w.weight + 128) >> 8);
    }
}

void ScaleYuv420::Apply(const uint8_t* const source[3], const size_t sourceStride[2], uint8_t* const destination[3],
                        const size_t destinationStride[2]) const {
    ScalePlane(source[0], sourceStride[0], destination[0], destinationStride[0], width_, luma_);
    for (int plane = 1; plane < 3; ++plane)
        ScalePlane(source[plane], sourceStride[1], destination[plane], destinationStride[1], width_ / 2, chroma_);
}

bool SnapshotPicture::Allocate(uint32_t width, uint32_t height, bool doubleHeight) {
    width_ = width;
    height_ = doubleHeight ? 2 * height : height;
    doubleHeight_ = doubleHeight;
    bytes_ = size_t{width_} * height_ * 3 / 2;
    data_.reset(new (std::nothrow) uint8_t[bytes_]);
    return data_ != nullptr && bytes_ > 0;
}

bool SnapshotPicture::Take(const Yv12View& picture) {
    const uint32_t sourceHeight = doubleHeight_ ? height_ / 2 : height_;
    if (!data_ || !picture.Valid() || picture.width != width_ || picture.height != sourceHeight) return false;
    if (!doubleHeight_) {
        std::memcpy(data_.get(), picture.data, bytes_);
        return true;
    }
    const size_t lumaBytes = size_t{width_} * height_;
    const uint8_t* const source[3] = {picture.Y(), picture.V(), picture.U()};
    uint8_t* const destination[3] = {data_.get(), data_.get() + lumaBytes, data_.get() + lumaBytes * 5 / 4};
    const size_t strides[2] = {width_, width_ / 2};
    ScaleYuv420(width_, sourceHeight, height_).Apply(source, strides, destination, strides);
    return true;
}

int32_t SnapshotPicture::Write(const char* path) const {
    return WriteBmp(data_.get(), bytes_, width_, height_, kBmpFromYuv420, path);
}

}  // namespace kestrel::engine
