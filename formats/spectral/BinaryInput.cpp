#include "formats/spectral/BinaryInput.h"

#include <sys/stat.h>

namespace kelto::spectral {

bool BinaryInput::Open(const std::string& path) {
    Close();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        std::fclose(f);
        return false;
    }
    file_ = f;
    size_ = static_cast<std::uint64_t>(st.st_size);
    position_ = 0;
    return true;
}

void BinaryInput::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
    position_ = 0;
}

bool BinaryInput::Rewind() {
    if (!file_) return false;
    std::clearerr(file_);
    if (fseeko(file_, 0, SEEK_SET) != 0) return false;
    position_ = 0;
    return true;
}

std::size_t BinaryInput::Read(void* out, std::size_t count) {
    if (!file_) return 0;
    // Never past the size seen at open: a file that grows meanwhile does not extend the read.
    if (count > Remaining()) count = static_cast<std::size_t>(Remaining());
    if (count == 0) return 0;
    std::size_t got = std::fread(out, 1, count, file_);
    position_ += got;
    return got;
}

bool BinaryInput::Skip(std::uint64_t count) {
    if (!file_) return false;
    if (count > Remaining()) return false;
    if (count == 0) return true;
    if (fseeko(file_, static_cast<off_t>(position_ + count), SEEK_SET) != 0) return false;
    position_ += count;
    return true;
}

}  // namespace kelto::spectral
