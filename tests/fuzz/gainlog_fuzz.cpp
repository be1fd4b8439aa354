// gainlog maps any float amplitude to decibels. Checked for every bit
// pattern: 0 and below give -199.9; NaN stays NaN; a positive amplitude gives
// 20 log10 of it to within one float step, never decreasing as the amplitude
// grows, and +inf gives +inf.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "lorvex/convert.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using lorvex::convert::amplitude_db;
    if (size < 4)
        return 0;
    float f;
    std::memcpy(&f, data, 4);
    const float db = amplitude_db(f);
    if (std::isnan(f)) {
        if (!std::isnan(db))
            std::abort();
        return 0;
    }
    if (f <= 0) {
        if (db != -199.9f)
            std::abort();
        return 0;
    }
    const double exact = 20 * std::log10(static_cast<double>(f));
    if (std::isinf(f)) {
        if (db != INFINITY)
            std::abort();
        return 0;
    }
    const float lo = std::nextafter(static_cast<float>(exact), -INFINITY);
    const float hi = std::nextafter(static_cast<float>(exact), INFINITY);
    if (!(db >= lo && db <= hi))
        std::abort();
    const float up = std::nextafter(f, INFINITY);
    if (amplitude_db(up) < db)
        std::abort();
    return 0;
}
