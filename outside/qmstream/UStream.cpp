#include "outside/qmstream/UStream.h"

#include <cstdint>
#include <istream>
#include <ostream>

#include "outside/utl/BinaryIO.h"

UStreamBase::~UStreamBase() = default;

bool UStreamBase::UStreamableStartWrite(std::ostream& out) { return out.good(); }

bool UStreamBase::UStreamableStartRead(std::istream& in) { return in.good(); }

void UStreamBase::UStreamableReset() {}

UStreamableData::UStreamableData(short version, const char* name)
    : version_(version), found_(version), name_(name ? name : "") {}

bool UStreamableData::Write(std::ostream& out) const {
    std::int16_t v = version_;
    return WriteBinaryString(out, name_) && WriteBytes(out, &v, sizeof v);
}

bool UStreamableData::Check(std::istream& in) { return Check(in, found_); }

bool UStreamableData::Check(std::istream& in, short& found) const {
    std::string name;
    std::int16_t v = 0;
    if (!ReadBinaryString(in, name) || !ReadBytes(in, &v, sizeof v)) return false;
    found = v;
    return name == name_ && v <= version_;
}
