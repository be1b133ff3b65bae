#pragma once
// Binary writers and readers of the utility library. Layout (all little-endian):
//   WriteBytes        count bytes as they are
//   WriteFourBytes    count values of 4 bytes each
//   WriteEightBytes   count values of 8 bytes each
//   WriteBinaryString a 4-byte length, then that many bytes (no terminating NUL)
// Every reader gives back exactly what its writer wrote and returns false when the stream
// fails or holds less than asked. ReadBinaryString refuses a length longer than what the
// stream still holds, so a damaged length never drives an allocation.
#include <cstddef>
#include <iosfwd>
#include <string>

#include "plugin/Export.h"

KELTO_API bool WriteBytes(std::ostream& out, const void* values, std::size_t count);
KELTO_API bool ReadBytes(std::istream& in, void* values, std::size_t count);
KELTO_API bool WriteFourBytes(std::ostream& out, const void* values, std::size_t count = 1);
KELTO_API bool ReadFourBytes(std::istream& in, void* values, std::size_t count = 1);
KELTO_API bool WriteEightBytes(std::ostream& out, const void* values, std::size_t count = 1);
KELTO_API bool ReadEightBytes(std::istream& in, void* values, std::size_t count = 1);
KELTO_API bool WriteBinaryString(std::ostream& out, const std::string& text);
KELTO_API bool ReadBinaryString(std::istream& in, std::string& text);
