#pragma once
// Byte-order aware loads for every binary reader. Files carry little- or big-endian integers and
// IEEE floats at arbitrary (unaligned) offsets; all loads go through memcpy so they are safe at
// any alignment and compile to a plain load plus, where needed, one byte swap.
//
// Two layers:
//  - LoadLE / LoadBE read from a raw pointer the caller has already bounds-checked;
//  - ByteReader walks a std::span and never reads past its end: a read that would does not
//    move the position, yields 0 and makes the reader fail (sticky), so a run of field reads
//    can be checked once at the end with ok().
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <type_traits>

namespace kelto::platform {

enum class ByteOrder { Little, Big };

namespace detail {

template <typename T>
concept Loadable = (std::is_integral_v<T> || std::is_floating_point_v<T>) &&
                   (sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8);

template <std::size_t N>
struct UnsignedOfSize;
template <> struct UnsignedOfSize<1> { using type = std::uint8_t; };
template <> struct UnsignedOfSize<2> { using type = std::uint16_t; };
template <> struct UnsignedOfSize<4> { using type = std::uint32_t; };
template <> struct UnsignedOfSize<8> { using type = std::uint64_t; };

template <typename U>
constexpr U Swap(U v) noexcept {
    if constexpr (sizeof(U) == 1) return v;
    else if constexpr (sizeof(U) == 2) return static_cast<U>(__builtin_bswap16(v));
    else if constexpr (sizeof(U) == 4) return static_cast<U>(__builtin_bswap32(v));
    else return static_cast<U>(__builtin_bswap64(v));
}

template <Loadable T>
inline T Load(const void* p, ByteOrder order) noexcept {
    using U = typename UnsignedOfSize<sizeof(T)>::type;
    U raw;
    std::memcpy(&raw, p, sizeof raw);
    const bool nativeLittle = std::endian::native == std::endian::little;
    if ((order == ByteOrder::Little) != nativeLittle) raw = Swap(raw);
    return std::bit_cast<T>(raw);
}

template <Loadable T>
inline void Store(void* p, T value, ByteOrder order) noexcept {
    using U = typename UnsignedOfSize<sizeof(T)>::type;
    U raw = std::bit_cast<U>(value);
    const bool nativeLittle = std::endian::native == std::endian::little;
    if ((order == ByteOrder::Little) != nativeLittle) raw = Swap(raw);
    std::memcpy(p, &raw, sizeof raw);
}

}  // namespace detail

// Unchecked loads: `p` must point at sizeof(T) readable bytes.
template <detail::Loadable T>
inline T LoadLE(const void* p) noexcept { return detail::Load<T>(p, ByteOrder::Little); }
template <detail::Loadable T>
inline T LoadBE(const void* p) noexcept { return detail::Load<T>(p, ByteOrder::Big); }

// Stores, for writers and for tests that build binary files.
template <detail::Loadable T>
inline void StoreLE(void* p, T value) noexcept { detail::Store<T>(p, value, ByteOrder::Little); }
template <detail::Loadable T>
inline void StoreBE(void* p, T value) noexcept { detail::Store<T>(p, value, ByteOrder::Big); }

// Checked loads at an offset of a span: nullopt when the value does not lie wholly inside.
template <detail::Loadable T>
inline std::optional<T> LoadAt(std::span<const std::uint8_t> bytes, std::size_t offset,
                               ByteOrder order) noexcept {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
    return detail::Load<T>(bytes.data() + offset, order);
}
template <detail::Loadable T>
inline std::optional<T> LoadLEAt(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    return LoadAt<T>(bytes, offset, ByteOrder::Little);
}
template <detail::Loadable T>
inline std::optional<T> LoadBEAt(std::span<const std::uint8_t> bytes, std::size_t offset) noexcept {
    return LoadAt<T>(bytes, offset, ByteOrder::Big);
}

// A cursor over a byte span in one byte order (switchable with SetOrder).
class ByteReader {
public:
    ByteReader() noexcept = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes,
                        ByteOrder order = ByteOrder::Little) noexcept
        : bytes_(bytes), order_(order) {}
    ByteReader(const void* data, std::size_t size, ByteOrder order = ByteOrder::Little) noexcept
        : bytes_(static_cast<const std::uint8_t*>(data), size), order_(order) {}

    std::size_t Position() const noexcept { return pos_; }
    std::size_t Size() const noexcept { return bytes_.size(); }
    std::size_t Remaining() const noexcept { return bytes_.size() - pos_; }
    bool AtEnd() const noexcept { return pos_ == bytes_.size(); }
    ByteOrder Order() const noexcept { return order_; }
    void SetOrder(ByteOrder order) noexcept { order_ = order; }
    std::span<const std::uint8_t> Span() const noexcept { return bytes_; }

    // False once any read, skip or seek went out of range; stays false until ClearError.
    bool ok() const noexcept { return ok_; }
    explicit operator bool() const noexcept { return ok_; }
    void ClearError() noexcept { ok_ = true; }

    // Moves to an absolute position (the end itself is allowed).
    bool Seek(std::size_t position) noexcept {
        if (position > bytes_.size()) return Fail();
        pos_ = position;
        return true;
    }
    bool Skip(std::size_t count) noexcept {
        if (count > Remaining()) return Fail();
        pos_ += count;
        return true;
    }
    bool Has(std::size_t count) const noexcept { return count <= Remaining(); }

    // One value in the reader's byte order; 0 (and failure) when fewer than sizeof(T) remain.
    template <detail::Loadable T>
    T Read() noexcept { return ReadIn<T>(order_); }
    template <detail::Loadable T>
    T ReadLE() noexcept { return ReadIn<T>(ByteOrder::Little); }
    template <detail::Loadable T>
    T ReadBE() noexcept { return ReadIn<T>(ByteOrder::Big); }

    // The same with an explicit success result, for callers that branch per field.
    template <detail::Loadable T>
    bool Read(T& out) noexcept {
        if (!Has(sizeof(T))) return Fail();
        out = ReadIn<T>(order_);
        return true;
    }

    std::uint8_t U8() noexcept { return Read<std::uint8_t>(); }
    std::int8_t I8() noexcept { return Read<std::int8_t>(); }
    std::uint16_t U16() noexcept { return Read<std::uint16_t>(); }
    std::int16_t I16() noexcept { return Read<std::int16_t>(); }
    std::uint32_t U32() noexcept { return Read<std::uint32_t>(); }
    std::int32_t I32() noexcept { return Read<std::int32_t>(); }
    std::uint64_t U64() noexcept { return Read<std::uint64_t>(); }
    std::int64_t I64() noexcept { return Read<std::int64_t>(); }
    float F32() noexcept { return Read<float>(); }
    double F64() noexcept { return Read<double>(); }

    // A sub-span of `count` bytes, advancing past it; empty (and failure) when fewer remain.
    std::span<const std::uint8_t> Bytes(std::size_t count) noexcept {
        if (!Has(count)) {
            Fail();
            return {};
        }
        auto out = bytes_.subspan(pos_, count);
        pos_ += count;
        return out;
    }
    // Copies `count` bytes out; nothing is copied (and the reader fails) when fewer remain.
    bool CopyTo(void* out, std::size_t count) noexcept {
        if (!Has(count)) return Fail();
        if (count) std::memcpy(out, bytes_.data() + pos_, count);
        pos_ += count;
        return true;
    }

    // Reads at an absolute offset without moving; fails the reader when out of range.
    template <detail::Loadable T>
    T PeekAt(std::size_t offset) noexcept {
        auto v = LoadAt<T>(bytes_, offset, order_);
        if (!v) {
            Fail();
            return T{};
        }
        return *v;
    }

private:
    template <detail::Loadable T>
    T ReadIn(ByteOrder order) noexcept {
        if (!Has(sizeof(T))) {
            Fail();
            return T{};
        }
        T v = detail::Load<T>(bytes_.data() + pos_, order);
        pos_ += sizeof(T);
        return v;
    }
    bool Fail() noexcept {
        ok_ = false;
        return false;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    ByteOrder order_ = ByteOrder::Little;
    bool ok_ = true;
};

}  // namespace kelto::platform
