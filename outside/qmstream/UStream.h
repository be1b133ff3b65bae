#pragma once
// Versioned binary streaming. A streamable class derives from UStreamBase and describes
// itself with one static UStreamableData (a name and the version this code writes). The
// record in the stream is the name (as WriteBinaryString writes it) followed by the version
// as a 2-byte little-endian value.
#include <iosfwd>
#include <string>

#include "plugin/Export.h"

class KELTO_API UStreamBase {
public:
    virtual ~UStreamBase();
    // The base has nothing of its own to write or read.
    virtual bool UStreamableStartWrite(std::ostream& out);
    virtual bool UStreamableStartRead(std::istream& in);
    // Ends a streaming pass (objects written once per pass clear their mark here).
    virtual void UStreamableReset();
};

class KELTO_API UStreamableData {
public:
    UStreamableData(short version, const char* name);
    // Streamable classes keep a descriptor type of their own derived from this one.
    virtual ~UStreamableData() = default;
    bool Write(std::ostream& out) const;
    // Reads a record and checks it: false when the stream holds another name, or a version
    // newer than this code writes. The version found is kept either way.
    bool Check(std::istream& in);
    // The same without keeping anything here: the version found goes to `found`. A descriptor
    // shared by every object of a class reads through this one, so that objects streamed on
    // different threads each keep the version they met.
    bool Check(std::istream& in, short& found) const;
    short GetUStreamVersionNumber() const { return found_; }
    short GetMyUStreamVersionNumber() const { return version_; }
    const std::string& GetName() const { return name_; }

private:
    short version_;
    short found_;
    std::string name_;
};
