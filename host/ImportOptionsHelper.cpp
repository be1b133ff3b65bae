#include "host/ImportOptionsHelper.h"

#include <bit>
#include <cstring>
#include <sstream>

#include "outside/utl/BinaryIO.h"
#include "outside/utl/ConfigurationSection.h"
#include "outside/utl/Exception.h"
#include "outside/utl/HtmlUtilities.h"

namespace ImportOptionsHelper {
namespace {

constexpr const char* kSettings = "Settings";
constexpr const char* kSheets = "Sheets";
constexpr const char* kReadOrder = "ReadOrder";
constexpr char kSeparator = ';';

// The parsed options text: the whole document and its "Settings" section. Both null when
// the record holds no text or the text has no such section.
struct ParsedOptions {
    std::unique_ptr<TinyXML2Section> document;
    std::unique_ptr<ConfigurationSection> settings;
    explicit operator bool() const { return settings != nullptr; }
};

ParsedOptions Parse(const QmImportOpenOptions& options) {
    ParsedOptions parsed;
    if (!options.data || options.size < 1) return parsed;
    std::istringstream in(std::string(options.data, static_cast<std::size_t>(options.size)));
    in.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    std::string text;
    if (!ReadBinaryString(in, text)) return parsed;
    parsed.document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    if (parsed.document) parsed.settings = parsed.document->GetSection(kSettings);
    if (!parsed.settings) parsed.document.reset();
    return parsed;
}

// The bytes WriteBinaryString gives for `text`, with the stream's exceptions enabled.
std::string BinaryString(const std::string& text) {
    std::ostringstream out;
    out.exceptions(std::ios::failbit | std::ios::badbit | std::ios::eofbit);
    WriteBinaryString(out, text);
    return out.str();
}

char* NewBuffer(const std::string& bytes) {
    if (bytes.empty()) return nullptr;
    char* buffer = new char[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    return buffer;
}

}  // namespace

std::vector<std::string> GetDocuments(const QmImportOpenOptions& options) {
    std::vector<std::string> documents;
    ParsedOptions parsed = Parse(options);
    if (!parsed || !parsed.settings->ReadKey(kSheets, documents, kSeparator)) return {};
    for (std::string& name : documents) name = HtmlUtilities::URIDecode(name);
    return documents;
}

bool SetDocuments(QmImportOpenOptions& options, const std::vector<std::string>& documents) {
    ParsedOptions parsed = Parse(options);
    if (!parsed) return false;
    std::vector<std::string> encoded = documents;
    for (std::string& name : encoded) HtmlUtilities::URIEncode(name);
    parsed.settings->WriteKey(kSheets, encoded, kSeparator);
    std::string text;
    parsed.document->Flush(text, false);
    std::string bytes = BinaryString(text);
    char* buffer = NewBuffer(bytes);
    delete[] options.data;
    options.data = buffer;
    options.size = static_cast<int>(bytes.size());
    return true;
}

int GetReadOrder(const QmImportOpenOptions& options) {
    int order = kMergeDocuments;
    if (ParsedOptions parsed = Parse(options)) parsed.settings->ReadKey(kReadOrder, order);
    return order;
}

bool IsMergeDocuments(const QmImportOpenOptions& options) { return GetReadOrder(options) == kMergeDocuments; }

OpenOptions::OpenOptions() : QmImportOpenOptions{0, nullptr} {}

OpenOptions::OpenOptions(const OpenOptions& other) : OpenOptions() { CopyBytes(other); }

OpenOptions::OpenOptions(const QmImportOpenOptions* record) : OpenOptions() {
    if (!record || !record->data) return;
    size = record->size > 0 ? record->size : 0;
    data = record->data;
}

OpenOptions& OpenOptions::operator=(const OpenOptions& other) {
    // Freeing first and copying after would read the freed bytes when assigning to itself.
    if (this == &other) return *this;
    Free();
    CopyBytes(other);
    readDirection_ = other.readDirection_;
    return *this;
}

OpenOptions::OpenOptions(OpenOptions&& other) noexcept : QmImportOpenOptions{other.size, other.data} {
    readDirection_ = other.readDirection_;
    other.size = 0;
    other.data = nullptr;
}

OpenOptions& OpenOptions::operator=(OpenOptions&& other) noexcept {
    if (this == &other) return *this;
    Free();
    size = other.size;
    data = other.data;
    readDirection_ = other.readDirection_;
    other.size = 0;
    other.data = nullptr;
    return *this;
}

OpenOptions::~OpenOptions() { Free(); }

void OpenOptions::Free() {
    delete[] data;
    data = nullptr;
    size = 0;
}

void OpenOptions::CopyBytes(const QmImportOpenOptions& from) {
    if (!from.data || from.size < 1) return;
    data = new char[static_cast<std::size_t>(from.size)];
    std::memcpy(data, from.data, static_cast<std::size_t>(from.size));
    size = from.size;
}

std::unique_ptr<OpenOptions> OpenOptions::Adopt(QmImportOpenOptions* record) {
    auto options = std::make_unique<OpenOptions>(record);
    delete record;
    return options;
}

std::unique_ptr<OpenOptions> OpenOptions::CreateOpenOptions(const std::string& text) {
    std::unique_ptr<TinyXML2Section> document = TinyXML2Section::CreateXMLSectionFromString(text.c_str());
    if (!document || !document->GetSection(kSettings))
        throw Exception(ExceptionMessage::translate("Invalid file open option format"));
    auto options = std::make_unique<OpenOptions>();
    std::string bytes = BinaryString(text);
    options->data = NewBuffer(bytes);
    options->size = static_cast<int>(bytes.size());
    options->SetReadDirection(GetReadOrder(*options));
    return options;
}

}  // namespace ImportOptionsHelper

namespace {

static_assert(std::endian::native == std::endian::little, "the Bruker record is stored as laid out in memory");
static_assert(sizeof(int) == 4 && sizeof(double) == 8);

// Offsets of the stored fields of the Bruker record.
constexpr std::size_t kPointsAt = 0;
constexpr std::size_t kFirstXAt = 4;
constexpr std::size_t kLastXAt = 12;
constexpr std::size_t kFlagAt = 20;

}  // namespace

BatchImportSettings::BrukerOptions GetBrukerImportOptions(const QmImportOpenOptions& options) {
    BatchImportSettings::BrukerOptions settings;
    if (options.size != BatchImportSettings::kBrukerOptionsSize || !options.data) return settings;
    std::memcpy(&settings.points, options.data + kPointsAt, sizeof settings.points);
    std::memcpy(&settings.firstX, options.data + kFirstXAt, sizeof settings.firstX);
    std::memcpy(&settings.lastX, options.data + kLastXAt, sizeof settings.lastX);
    std::memcpy(&settings.flag, options.data + kFlagAt, sizeof settings.flag);
    return settings;
}

std::unique_ptr<ImportOptionsHelper::OpenOptions> CreateBrukerImportOptions(
    const BatchImportSettings::BrukerOptions& settings) {
    auto options = std::make_unique<ImportOptionsHelper::OpenOptions>();
    options->data = new char[BatchImportSettings::kBrukerOptionsSize];
    options->size = BatchImportSettings::kBrukerOptionsSize;
    std::memcpy(options->data + kPointsAt, &settings.points, sizeof settings.points);
    std::memcpy(options->data + kFirstXAt, &settings.firstX, sizeof settings.firstX);
    std::memcpy(options->data + kLastXAt, &settings.lastX, sizeof settings.lastX);
    std::memcpy(options->data + kFlagAt, &settings.flag, sizeof settings.flag);
    return options;
}
