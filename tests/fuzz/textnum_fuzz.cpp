// textnum and glyphnum read a symbol's text: any bytes but NUL, of any length.
// Checked here: nothing a text holds makes the parse misbehave; a sign in
// front negates exactly; white space in front changes nothing; every float
// printed with 9 significant digits, or in hexadecimal, reads back as itself;
// the first byte is always 0..255 and names the character it came from.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lorvex/convert.hpp"

namespace {

bool same(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool space(char c) { return std::strchr(" \t\n\v\f\r", c) && c; }

void check_reads_back(float f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(f));
    if (!same(lorvex::convert::text_number<float>(text), f))
        std::abort();
    std::snprintf(text, sizeof text, "%a", static_cast<double>(f));
    if (!same(lorvex::convert::text_number<float>(text), f))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace lorvex::convert;
    // A symbol's text ends at its first NUL.
    const std::string text(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
    const float v = text_number<float>(text.c_str());

    if (!same(text_number<float>((" \t\n" + text).c_str()), v))
        std::abort();
    std::size_t start = 0;
    while (start < text.size() && space(text[start]))
        start++;
    // Only where a number was read at all: a text with none gives +0 either way.
    char *end = nullptr;
    std::strtod(text.c_str() + start, &end);
    const bool read = end != text.c_str() + start;
    if (read && text[start] != '-' && text[start] != '+') {
        const float negated = text_number<float>(("-" + text.substr(start)).c_str());
        if (!same(negated, -v) || (!std::isnan(v) && std::signbit(negated) == std::signbit(v)))
            std::abort();
    }

    const float code = first_byte(text.c_str());
    if (code != static_cast<unsigned char>(text.c_str()[0]) || code < 0 || code > 255)
        std::abort();
    if (glyph_byte(code) != text.c_str()[0])
        std::abort();

    if (size >= 4) {
        float f;
        std::memcpy(&f, data, 4);
        check_reads_back(f);
    }
    return 0;
}
