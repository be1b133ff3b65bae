// DIF File under arbitrary input (see TextFormatFuzz.h): read, written back, read again.
#include "TextFormatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return kelto::fuzz::FuzzTextFormat("DIF File", ".dif", true, data, size);
}
