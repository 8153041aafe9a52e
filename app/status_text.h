// The texts of the status line.
#pragma once

#include <QString>
#include <cstdint>

namespace kestrel::app {

// Milliseconds as hours:minutes:seconds; the hours are not wrapped (100 hours read 100:00:00).
QString FormatPlayTime(uint32_t ms);
// "played/total      time/duration".
QString StatusLineText(uint32_t playedFrames, uint32_t fileFrames, uint32_t playedMs, uint32_t fileMs);

}  // namespace kestrel::app
