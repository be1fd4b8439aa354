// numglyph turns any float into a character code: the low 8 bits of its
// unsigned 32-bit truncation. Checked against the same rule worked out in
// double arithmetic, for every bit pattern a message can carry.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lorvex/convert.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    float f;
    std::memcpy(&f, data, 4);
    unsigned expected;
    if (std::isnan(f) || f < 1)
        expected = 0;
    else if (f >= 4294967296.0f)
        expected = 255;
    else
        expected = static_cast<unsigned>(std::fmod(std::trunc(static_cast<double>(f)), 256.0));
    const char got = lorvex::convert::glyph_byte(f);
    if (static_cast<unsigned char>(got) != expected)
        std::abort();
    // The character's code, read back as glyphnum reads it, is the same.
    const char text[2] = {got, 0};
    if (lorvex::convert::first_byte(text) != static_cast<float>(expected))
        std::abort();
    return 0;
}
