#pragma once
// Configuration sections: named subsections holding keys with typed values, kept as an XML
// document (tinyxml2). The open options of the formats travel in this form.
//
// Layout of the text (any text that reads back through CreateXMLSectionFromString works):
//   <Configuration>
//     <Section name="Settings">
//       <Key name="Delimiter" value="%09"/>
//       <Key name="Sheets" count="2" value="a%3Bb;c"/>
//     </Section>
//   </Configuration>
// Values are stored as attribute text with every character that XML would change (CR,
// control characters, markup) written as a character reference, so any value reads back
// byte for byte. A list is stored as one text joined by its separator, plus its entry count
// (so that an empty list and a list of one empty entry differ); entries must not contain the
// separator themselves (callers percent-encode them).
#include <memory>
#include <string>
#include <vector>

#include "plugin/Export.h"

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

class KELTO_API ConfigurationSection {
public:
    virtual ~ConfigurationSection();

    virtual std::string GetName() const = 0;

    // The subsection of that name, or null when there is none. Handles stay valid as long as
    // any handle of the same document exists.
    virtual std::unique_ptr<ConfigurationSection> GetSection(const std::string& name) = 0;
    // The subsection of that name, created (at the end) when there is none.
    virtual std::unique_ptr<ConfigurationSection> CreateSection(const std::string& name) = 0;
    virtual std::vector<std::string> GetSectionNames() const = 0;

    virtual bool HasKey(const std::string& key) const = 0;
    virtual std::vector<std::string> GetKeyNames() const = 0;
    virtual bool RemoveKey(const std::string& key) = 0;

    // Reads return false, leaving `value` untouched, when the key is absent or its text is
    // not of the type asked for.
    virtual bool ReadKey(const std::string& key, std::string& value) const = 0;
    bool ReadKey(const std::string& key, int& value) const;
    bool ReadKey(const std::string& key, bool& value) const;
    bool ReadKey(const std::string& key, float& value) const;
    bool ReadKey(const std::string& key, double& value) const;
    virtual bool ReadKey(const std::string& key, std::vector<std::string>& values, char separator) const = 0;
    bool ReadKey(const std::string& key, std::vector<int>& values, char separator = ';') const;
    bool ReadKey(const std::string& key, std::vector<float>& values, char separator = ';') const;
    bool ReadKey(const std::string& key, std::vector<double>& values, char separator = ';') const;

    // Writes replace the key's value, or add the key at the end.
    virtual void WriteKey(const std::string& key, const std::string& value) = 0;
    void WriteKey(const std::string& key, const char* value) { WriteKey(key, std::string(value ? value : "")); }
    void WriteKey(const std::string& key, int value);
    void WriteKey(const std::string& key, bool value);
    void WriteKey(const std::string& key, float value);
    void WriteKey(const std::string& key, double value);
    virtual void WriteKey(const std::string& key, const std::vector<std::string>& values, char separator) = 0;
    void WriteKey(const std::string& key, const std::vector<int>& values, char separator = ';');
    void WriteKey(const std::string& key, const std::vector<float>& values, char separator = ';');
    void WriteKey(const std::string& key, const std::vector<double>& values, char separator = ';');

    // The whole document as text; `compact` leaves out line breaks and indentation.
    virtual bool Flush(std::string& text, bool compact = false) const = 0;
};

class KELTO_API TinyXML2Section : public ConfigurationSection {
public:
    // A new, empty document; this is its top section.
    TinyXML2Section();
    // The top section of a document parsed from `text`; null when the text is null or does
    // not parse as XML with a top element.
    static std::unique_ptr<TinyXML2Section> CreateXMLSectionFromString(const char* text);

    std::string GetName() const override;
    std::unique_ptr<ConfigurationSection> GetSection(const std::string& name) override;
    std::unique_ptr<ConfigurationSection> CreateSection(const std::string& name) override;
    std::vector<std::string> GetSectionNames() const override;
    bool HasKey(const std::string& key) const override;
    std::vector<std::string> GetKeyNames() const override;
    bool RemoveKey(const std::string& key) override;

    using ConfigurationSection::ReadKey;
    using ConfigurationSection::WriteKey;
    bool ReadKey(const std::string& key, std::string& value) const override;
    bool ReadKey(const std::string& key, std::vector<std::string>& values, char separator) const override;
    void WriteKey(const std::string& key, const std::string& value) override;
    void WriteKey(const std::string& key, const std::vector<std::string>& values, char separator) override;

    bool Flush(std::string& text, bool compact = false) const override;

private:
    TinyXML2Section(std::shared_ptr<tinyxml2::XMLDocument> document, tinyxml2::XMLElement* element);
    tinyxml2::XMLElement* FindKey(const std::string& key) const;
    tinyxml2::XMLElement* FindSection(const std::string& name) const;

    std::shared_ptr<tinyxml2::XMLDocument> document_;
    tinyxml2::XMLElement* element_;
};
