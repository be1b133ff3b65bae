#include "formats/workbook/XlsxPackage.h"

#include <zip.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace kelto::workbook::xlsx {

namespace {

// Deflate emits at most 258 bytes per 2-bit code, about 1032 bytes per input byte; a part
// claiming more than this (plus a little for tiny parts) cannot be honest.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr std::uint64_t kRatioSlack = 4096;

}  // namespace

PartStream::~PartStream() {
    if (file_) zip_fclose(file_);
}

std::ptrdiff_t PartStream::Read(char* buffer, std::size_t capacity) {
    if (status_ != PartStatus::Ok) return -1;
    if (capacity == 0) return 0;
    zip_int64_t got = zip_fread(file_, buffer, capacity);
    if (got < 0) {
        status_ = PartStatus::Corrupt;
        return -1;
    }
    delivered_ += static_cast<std::uint64_t>(got);
    if (delivered_ > declared_) {
        status_ = PartStatus::Corrupt;
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

Package::~Package() {
    if (archive_) zip_discard(archive_);
}

bool Package::OpenFile(const std::string& path) {
    if (archive_) zip_discard(archive_);
    int error = 0;
    archive_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
    return archive_ != nullptr;
}

bool Package::OpenMemory(const void* data, std::size_t size) {
    if (archive_) zip_discard(archive_);
    archive_ = nullptr;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (source) {
        archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
        if (!archive_) zip_source_free(source);
    }
    zip_error_fini(&error);
    return archive_ != nullptr;
}

std::string Package::Find(const std::string& name) const {
    if (!archive_) return std::string();
    std::string wanted = name;
    while (!wanted.empty() && wanted.front() == '/') wanted.erase(0, 1);
    if (wanted.empty()) return std::string();
    zip_int64_t index = zip_name_locate(archive_, wanted.c_str(), 0);
    if (index < 0) index = zip_name_locate(archive_, wanted.c_str(), ZIP_FL_NOCASE);
    if (index < 0) return std::string();
    const char* stored = zip_get_name(archive_, static_cast<zip_uint64_t>(index), 0);
    return stored ? std::string(stored) : std::string();
}

std::unique_ptr<PartStream> Package::Open(const std::string& name, PartStatus& status) const {
    status = PartStatus::Missing;
    const std::string stored = Find(name);
    if (stored.empty()) return nullptr;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(archive_, stored.c_str(), 0, &st) != 0) {
        status = PartStatus::Corrupt;
        return nullptr;
    }
    const zip_uint64_t need = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
    if ((st.valid & need) != need) {
        status = PartStatus::Corrupt;
        return nullptr;
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
        status = PartStatus::Unsupported;
        return nullptr;
    }
    if (st.comp_method == ZIP_CM_STORE) {
        if (st.size != st.comp_size) {
            status = PartStatus::Corrupt;
            return nullptr;
        }
    } else if (st.comp_method == ZIP_CM_DEFLATE) {
        if (st.size > st.comp_size * kMaxDeflateRatio + kRatioSlack) {
            status = PartStatus::Corrupt;
            return nullptr;
        }
    } else {
        status = PartStatus::Unsupported;
        return nullptr;
    }
    zip_file_t* file = zip_fopen(archive_, stored.c_str(), 0);
    if (!file) {
        status = PartStatus::Corrupt;
        return nullptr;
    }
    status = PartStatus::Ok;
    return std::unique_ptr<PartStream>(new PartStream(file, st.size));
}

PartStatus Package::ReadAll(const std::string& name, std::string& text, std::size_t limit) const {
    text.clear();
    PartStatus status;
    std::unique_ptr<PartStream> part = Open(name, status);
    if (!part) return status;
    if (part->DeclaredSize() > limit) return PartStatus::Corrupt;
    text.resize(static_cast<std::size_t>(part->DeclaredSize()));
    std::size_t have = 0;
    for (;;) {
        if (have == text.size()) {
            // One byte more than claimed is a lie the stream reports itself.
            char probe;
            std::ptrdiff_t got = part->Read(&probe, 1);
            if (got < 0) return part->status();
            break;
        }
        std::ptrdiff_t got = part->Read(text.data() + have, text.size() - have);
        if (got < 0) return part->status();
        if (got == 0) break;
        have += static_cast<std::size_t>(got);
    }
    text.resize(have);
    return PartStatus::Ok;
}

std::string ResolvePartName(const std::string& source, const std::string& target) {
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path = target.substr(1);
    } else {
        std::size_t slash = source.rfind('/');
        path = (slash == std::string::npos ? std::string() : source.substr(0, slash + 1)) + target;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (segments.empty()) return std::string();
            segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& segment : segments) {
        if (!result.empty()) result += '/';
        result += segment;
    }
    return result;
}

std::string RelationshipsPartOf(const std::string& source) {
    std::size_t slash = source.rfind('/');
    if (slash == std::string::npos) return "_rels/" + source + ".rels";
    return source.substr(0, slash + 1) + "_rels/" + source.substr(slash + 1) + ".rels";
}

bool LooksLikeCompoundFile(const std::string& path) {
    static const unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char head[8] = {};
    const bool got = std::fread(head, 1, sizeof head, f) == sizeof head;
    std::fclose(f);
    return got && std::memcmp(head, kSignature, sizeof head) == 0;
}

}  // namespace kelto::workbook::xlsx
