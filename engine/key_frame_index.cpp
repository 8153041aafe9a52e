#include "engine/key_frame_index.h"

#include <algorithm>

namespace kestrel::engine {

void KeyFrameIndex::Append(const KeyFrameEntry& entry) {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.push_back(entry);
}

void KeyFrameIndex::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    entries_.clear();
    entries_.shrink_to_fit();
}

size_t KeyFrameIndex::Size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_.size();
}

std::optional<KeyFrameEntry> KeyFrameIndex::First() const {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return std::nullopt;
    return entries_.front();
}

std::optional<KeyFrameEntry> KeyFrameIndex::Last() const {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return std::nullopt;
    return entries_.back();
}

// Entries are in file order, so offsets and frame indexes both ascend.
std::optional<KeyFrameEntry> KeyFrameIndex::FindByOffset(uint64_t offset) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return std::nullopt;
    auto after = std::upper_bound(entries_.begin(), entries_.end(), offset,
                                  [](uint64_t o, const KeyFrameEntry& e) { return o < e.fileOffset; });
    return after == entries_.begin() ? entries_.front() : *(after - 1);
}

std::optional<KeyFrameEntry> KeyFrameIndex::FindByFrame(uint32_t frame) const {
    std::lock_guard<std::mutex> hold(lock_);
    if (entries_.empty()) return std::nullopt;
    auto atOrAfter = std::lower_bound(entries_.begin(), entries_.end(), frame,
                                      [](const KeyFrameEntry& e, uint32_t f) { return e.frameIndex < f; });
    return atOrAfter == entries_.begin() ? entries_.front() : *(atOrAfter - 1);
}

std::vector<KeyFrameEntry> KeyFrameIndex::Entries() const {
    std::lock_guard<std::mutex> hold(lock_);
    return entries_;
}

}  // namespace kestrel::engine
