#include "engine/h64_format.h"

#include <ctime>

namespace kestrel::engine {

size_t FindMagic(std::span<const uint8_t> chunk) {
    for (size_t i = 1; i + 4 <= chunk.size(); ++i)
        if (StartsWithMagic(chunk.data() + i)) return i;
    return 0;
}

namespace {

std::tm ToTm(uint32_t packed) {
    const DateTime d = UnpackDateTime(packed);
    std::tm t{};
    t.tm_year = static_cast<int>(d.year) - 1900;
    t.tm_mon = static_cast<int>(d.month) - 1;
    t.tm_mday = static_cast<int>(d.day);
    t.tm_hour = static_cast<int>(d.hour);
    t.tm_min = static_cast<int>(d.minute);
    t.tm_sec = static_cast<int>(d.second);
    t.tm_isdst = 1;
    return t;
}

}  // namespace

int64_t DateTimeToSeconds(uint32_t packed) {
    std::tm t = ToTm(packed);
    return static_cast<int64_t>(std::mktime(&t));
}

DateTime NormaliseDateTime(uint32_t packed) {
    std::tm t = ToTm(packed);
    // Pure calendar arithmetic: no time zone may move the hour of what the recorder wrote.
    const time_t s = timegm(&t);
    gmtime_r(&s, &t);
    return DateTime{static_cast<uint32_t>(t.tm_year + 1900), static_cast<uint32_t>(t.tm_mon + 1),
                    static_cast<uint32_t>(t.tm_mday),        static_cast<uint32_t>(t.tm_hour),
                    static_cast<uint32_t>(t.tm_min),         static_cast<uint32_t>(t.tm_sec)};
}

}  // namespace kestrel::engine
