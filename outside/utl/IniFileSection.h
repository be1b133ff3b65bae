#pragma once
// One section of an INI text ("[Status]" followed by "Key=Value" lines).
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "plugin/Export.h"

class KELTO_API IniFileSection {
public:
    // Reads the whole stream and keeps the keys of the first section named `section`
    // (compared without case). The text may be UTF-8 (with or without a byte-order mark) or
    // UTF-16 with a byte-order mark; lines end in LF or CR LF; lines starting with ";" or "#"
    // are comments. Key names are compared without case; names and values are trimmed of
    // surrounding blanks, and a value wholly in double quotes loses them. At most 16 MB of the
    // stream are read.
    IniFileSection(std::istream& in, const std::string& section);

    // Whether the section was found.
    bool IsValid() const { return found_; }
    // The value of a key; false, leaving `value` untouched, when the section has no such key.
    bool ReadKey(const std::string& name, std::string& value) const;
    // Every value of a key the section repeats, in the order of its lines; empty when the
    // section has no such key.
    std::vector<std::string> ReadKeys(const std::string& name) const;

private:
    bool found_ = false;
    std::map<std::string, std::string> keys_;  // lower-cased name -> value
    std::vector<std::pair<std::string, std::string>> lines_;  // every key line, in order
};
