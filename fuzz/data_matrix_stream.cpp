// Streamed matrices ("FSMat" records) from arbitrary bytes: reading must end with true or
// false, never crash, and a refused stream must leave the target matrix as it was.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "data/FloatStringMatrix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    FloatStringMatrix m;
    m.InsertColumn(1, 2);
    m.InsertRow(1, 3);
    m.Set(1, 1, "kept");
    if (!m.UStreamableStartRead(in)) {
        if (m.GetNumColumns() != 2 || m.GetNumRows() != 3 || !m.IsString(1, 1)) std::abort();
        return 0;
    }
    // Whatever was read is a whole matrix: every row as wide as announced, every cell
    // readable, and it streams out again.
    for (int r = 1; r <= m.GetNumRows(); ++r) {
        if (m[r].size() != m.GetNumColumns()) std::abort();
        for (int c = 1; c <= m.GetNumColumns(); ++c) (void)m.GetStringValue(c, r, EFloatType::General, 6, true);
    }
    // A matrix without rows may declare any width (there are no cells to check it against);
    // turning that into rows would allocate what the stream merely claims.
    if (m.GetNumRows() > 0) m.Transpose();
    std::ostringstream out;
    m.UStreamableReset();
    if (!m.UStreamableStartWrite(out)) std::abort();
    return 0;
}
