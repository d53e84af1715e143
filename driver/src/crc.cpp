#include "crc.h"

namespace kestra {

uint16_t checksum(const void* data, std::size_t length)
{
    auto bytes = static_cast<const unsigned char*>(data);
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : static_cast<uint16_t>(crc >> 1);
    }
    return static_cast<uint16_t>(~crc);
}

} // namespace kestra
