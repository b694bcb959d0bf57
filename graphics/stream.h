#pragma once
// Byte streams: the file and memory streams that pictures are read from and written to.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "graphics/pixel_store.h"

// An allocator whose new elements of plain types are left unset rather than zeroed, so that a
// buffer about to be filled from a file is not written twice (the zeroing and the first touch
// of every page are most of the cost of reading a big file into memory). Buffers of 2 MiB and
// more are mapped on huge pages: reading a 14 MB file into 4 KiB pages cost 40 ms of page
// faults, ten times the reading itself.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    static constexpr size_t kHugeThreshold = size_t(2) << 20;
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <class U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n <= SIZE_MAX / sizeof(T))
            if (const size_t length = HugeAlignedLength(n * sizeof(T), kHugeThreshold)) {
                if (uint8_t* p = MapHugeAligned(length)) return reinterpret_cast<T*>(p);
                throw std::bad_alloc();
            }
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* p, size_t n) {
        if (const size_t length = HugeAlignedLength(n * sizeof(T), kHugeThreshold))
            UnmapHugeAligned(p, length);
        else
            std::allocator<T>::deallocate(p, n);
    }
    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
// Bytes read from a stream or made by an encoder: a vector that does not zero what it grows by.
using ByteBuffer = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual uint64_t Position() const = 0;
    virtual void SetPosition(uint64_t position) = 0;
    virtual uint64_t Size() const = 0;

    // Reads exactly count bytes or fails with "Stream read error".
    void ReadBuffer(void* buffer, size_t count);
    // Writes exactly count bytes or fails with "Stream write error".
    void WriteBuffer(const void* buffer, size_t count);
    void WriteBytes(const std::vector<uint8_t>& bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    uint64_t Remaining() const;
    void Seek(int64_t offset) { SetPosition(Position() + static_cast<uint64_t>(offset)); }
    // The rest of the stream from the current position, read whole.
    std::vector<uint8_t> ReadRest();
    // The same, into a buffer that is not zero-filled first.
    ByteBuffer ReadRestBuffer();
};

class TFileStream final : public TStream {
public:
    enum class Mode {
        OpenRead,         // existing file, read only; "Cannot open file "%s". %s"
        CreateExclusive,  // new file only, never replaces one; "Cannot create file "%s". %s"
        CreateOrTruncate  // new or emptied file; "Cannot create file "%s". %s"
    };
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    uint64_t Position() const override { return position_; }
    void SetPosition(uint64_t position) override { position_ = position; }
    uint64_t Size() const override;
    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    uint64_t position_ = 0;
    std::string path_;
};

class TMemoryStream final : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    uint64_t Position() const override { return position_; }
    void SetPosition(uint64_t position) override { position_ = position; }
    uint64_t Size() const override { return bytes_.size(); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    std::vector<uint8_t> TakeBytes() { position_ = 0; return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    uint64_t position_ = 0;
};

// Reads a whole file into memory ("Cannot open file ..." / "Stream read error").
std::vector<uint8_t> ReadWholeFile(const std::string& path);
