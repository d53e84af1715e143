#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestra {

/// CRC-16/X-25 (HDLC FCS) as the instrument computes it over frames and replies.
uint16_t checksum(const void* data, std::size_t length);

inline uint16_t checksum(std::string_view text)
{
    return checksum(text.data(), text.size());
}

} // namespace kestra
