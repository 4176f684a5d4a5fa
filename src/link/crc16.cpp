#include "crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> make_table()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ 0xA001u) : static_cast<uint16_t>(value >> 1);
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint16_t, 256> crc_table = make_table();
static_assert(crc_table[1] == 0xC0C1 && crc_table[128] == 0xA001, "CRC table built for the wrong polynomial");

} // namespace

uint16_t crc16(const uint8_t* data, std::size_t count)
{
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ crc_table[(crc ^ data[i]) & 0xFFu]);
    return crc;
}
