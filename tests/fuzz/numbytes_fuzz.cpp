// numbytes splits a float into the four bytes of its representation, in
// memory order. Checked: each byte is a whole number 0..255, exact as a float
// atom, and the four put together in the machine's order give back the very
// bit pattern (NaN payloads and -0 included).
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lorvex/convert.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4)
        return 0;
    std::uint32_t bits;
    std::memcpy(&bits, data, 4);
    const auto b = lorvex::convert::float_bytes(std::bit_cast<float>(bits));
    std::uint32_t back = 0;
    for (int i = 0; i < 4; i++) {
        const float atom = b[i];
        if (atom < 0 || atom > 255 || atom != static_cast<float>(static_cast<int>(atom)))
            std::abort();
        const int shift = std::endian::native == std::endian::little ? 8 * i : 8 * (3 - i);
        back |= static_cast<std::uint32_t>(atom) << shift;
    }
    if (back != bits)
        std::abort();
    return 0;
}
