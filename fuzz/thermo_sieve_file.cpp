// Thermo SIEVE File under arbitrary input (see TextFormatFuzz.h).
#include "TextFormatFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return kelto::fuzz::FuzzTextFormat("Thermo SIEVE File", ".txt", false, data, size);
}
