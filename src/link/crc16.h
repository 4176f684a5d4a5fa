#pragma once

// The CRC-16 of every frame, in both directions.

#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS (reflected polynomial 0xA001, init 0xFFFF, no final XOR).
// The box expects it most significant byte first on the wire.
uint16_t crc16(const uint8_t* data, std::size_t count);
