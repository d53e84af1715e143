#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestra {

/// Every frame and every reply starts with this text, then the instrument number.
inline constexpr std::string_view framePrefix = "KESTRA #";
/// The address of a frame while the instrument's number is unknown.
inline constexpr std::string_view noNumber = "nonumber";
/// Commands and payloads live in a buffer of this size; a payload holds at most one byte less.
inline constexpr std::size_t commandBufferSize = 1024;
/// The longest instrument number kept (an 8-bit text of 260 bytes with its NUL).
inline constexpr std::size_t maxNumberLength = 259;

/// The frame for one attempt: prefix, number (or "nonumber"), " $%04X ", command, " CRC=",
/// the checksum over all of it as "%04X", CR LF.
std::string buildFrame(std::string_view number, uint16_t sequence, std::string_view command);

enum class ReplyVerdict { Wait, Accept, BadChecksum };

struct ReplyCheck {
    ReplyVerdict verdict = ReplyVerdict::Wait;
    std::string payload; ///< lower-cased, when accepted
};

/// Checks the bytes received so far for a complete reply from the instrument `number` (empty:
/// unknown, the reply then starts at the first byte received).
ReplyCheck checkReply(std::string_view received, std::string_view number);

/// Parses leading hex digits as the C library's base-16 text-to-unsigned rule would (no sign,
/// no "0x" prefix handling needed by callers; saturates on overflow).
uint64_t parseHexDigits(std::string_view text);

} // namespace kestra
