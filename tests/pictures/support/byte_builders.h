// Writers for the small files that reader tests build byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

// The low 16 or 32 bits of `value`, least (LE) or most (BE) significant byte first.
void AppendLE16(Bytes& out, uint32_t value);
void AppendLE32(Bytes& out, uint32_t value);
void AppendBE16(Bytes& out, uint32_t value);
void AppendBE32(Bytes& out, uint32_t value);
void PutBE16(Bytes& out, size_t at, uint32_t value);
void PutBE32(Bytes& out, size_t at, uint32_t value);
Bytes LE16(uint32_t value);
void AppendBytes(Bytes& out, std::initializer_list<int> bytes);
// The characters of a text file, as its bytes.
inline Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// PackBits: runs of three or more equal bytes as run packets, the rest as literal packets
// of up to 128 bytes.
Bytes PackBits(const Bytes& data);

}  // namespace test_support
