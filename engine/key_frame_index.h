// The key frames of an open recording in file order, appended by the index builder while the
// API thread and seeks read it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrel::engine {

struct KeyFrameEntry {
    uint64_t fileOffset = 0;  // of the packet's magic
    uint32_t frameIndex = 0;  // video packets from the first key frame (inclusive) to this one (exclusive)
    uint32_t timeOffset = 0;  // ms from the first key frame: TimeDiff(largest stamp so far, first stamp)
    uint32_t dateTime = 0;    // packed wall-clock time
    friend bool operator==(const KeyFrameEntry&, const KeyFrameEntry&) = default;
};

class KeyFrameIndex {
public:
    void Append(const KeyFrameEntry& entry);
    void Clear();
    size_t Size() const;
    bool Empty() const { return Size() == 0; }
    std::optional<KeyFrameEntry> First() const;
    std::optional<KeyFrameEntry> Last() const;
    // The last entry at or before offset; the first entry when all lie beyond it.
    std::optional<KeyFrameEntry> FindByOffset(uint64_t offset) const;
    // The last entry whose frame index is strictly below frame; the first entry when none is.
    std::optional<KeyFrameEntry> FindByFrame(uint32_t frame) const;
    std::vector<KeyFrameEntry> Entries() const;

private:
    mutable std::mutex lock_;  // guards entries_ (appended by the builder, read by API and seeks)
    std::vector<KeyFrameEntry> entries_;
};

}  // namespace kestrel::engine
