// The table-driven CRC-16 of every frame, four bytes per step.
#include "crc16.h"

#include <array>

namespace {

// tables[0] is the classic byte table; tables[k] advances a byte through k more zero
// bytes, so four independent lookups handle four bytes at once instead of a chain of four.
using Crc_tables = std::array<std::array<uint16_t, 256>, 4>;

constexpr Crc_tables make_tables()
{
    Crc_tables tables{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ 0xA001u) : static_cast<uint16_t>(value >> 1);
        tables[0][i] = value;
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (unsigned i = 0; i < 256; ++i)
            tables[k][i] = static_cast<uint16_t>((tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFFu]);
    return tables;
}

constexpr Crc_tables crc_tables = make_tables();
static_assert(crc_tables[0][1] == 0xC0C1 && crc_tables[0][128] == 0xA001, "CRC table built for the wrong polynomial");

} // namespace

uint16_t crc16(const uint8_t* data, std::size_t count)
{
    uint16_t crc = 0xFFFF;
    for (; count >= 4; count -= 4, data += 4) {
        const unsigned x = crc ^ (data[0] | data[1] << 8);
        crc = static_cast<uint16_t>(crc_tables[3][x & 0xFFu] ^ crc_tables[2][x >> 8] ^ crc_tables[1][data[2]]
                                    ^ crc_tables[0][data[3]]);
    }
    for (; count > 0; --count, ++data)
        crc = static_cast<uint16_t>((crc >> 8) ^ crc_tables[0][(crc ^ *data) & 0xFFu]);
    return crc;
}
