#include "app/status_text.h"

namespace kestrel::app {

QString FormatPlayTime(uint32_t ms) {
    return QString::asprintf("%02u:%02u:%02u", ms / 3600000u, ms / 60000u % 60u, ms / 1000u % 60u);
}

QString StatusLineText(uint32_t playedFrames, uint32_t fileFrames, uint32_t playedMs, uint32_t fileMs) {
    // Frame counts are unsigned: a count past 2^31 must not read as negative.
    return QString::asprintf("%u/%u      ", playedFrames, fileFrames) + FormatPlayTime(playedMs) + "/" +
           FormatPlayTime(fileMs);
}

}  // namespace kestrel::app
