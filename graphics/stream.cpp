#include "graphics/stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "graphics/errors.h"
#include "graphics/size_check.h"

void TStream::ReadBuffer(void* buffer, size_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError(kStreamReadError);
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError(kStreamWriteError);
}

uint64_t TStream::Remaining() const {
    const uint64_t size = Size();
    const uint64_t position = Position();
    return position < size ? size - position : 0;
}

namespace {

template <class Buffer>
Buffer ReadRestOf(TStream& stream) {
    // A multi-gigabyte file given a picture's name fails clearly instead of exhausting memory.
    Buffer bytes(static_cast<size_t>(CheckAllocation(stream.Remaining(), 1)));
    stream.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

std::vector<uint8_t> TStream::ReadRest() { return ReadRestOf<std::vector<uint8_t>>(*this); }

ByteBuffer TStream::ReadRestBuffer() { return ReadRestOf<ByteBuffer>(*this); }

TFileStream::TFileStream(const std::string& path, Mode mode) : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::OpenRead: flags |= O_RDONLY; break;
        case Mode::CreateExclusive: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
        case Mode::CreateOrTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        const char* pattern =
            mode == Mode::OpenRead ? "Cannot open file \"%s\". %s" : "Cannot create file \"%s\". %s";
        const std::string reason = std::strerror(errno);
        if (mode == Mode::OpenRead) throw EFOpenError(FormatMessage(pattern, path.c_str(), reason.c_str()));
        throw EFCreateError(FormatMessage(pattern, path.c_str(), reason.c_str()));
    }
    struct stat info {};
    if (mode == Mode::OpenRead && ::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError(FormatMessage("Cannot open file \"%s\". %s", path.c_str(), std::strerror(EISDIR)));
    }
    // Readers deny other writers: an advisory shared lock is the closest Linux has.
    if (mode == Mode::OpenRead) (void)::flock(fd_, LOCK_SH | LOCK_NB);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

size_t TFileStream::Read(void* buffer, size_t count) {
    size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
        position_ += static_cast<uint64_t>(got);
    }
    return done;
}

size_t TFileStream::Write(const void* buffer, size_t count) {
    size_t done = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t put = ::pwrite(fd_, in + done, count - done, static_cast<off_t>(position_));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
        position_ += static_cast<uint64_t>(put);
    }
    return done;
}

uint64_t TFileStream::Size() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (position_ >= bytes_.size()) return 0;
    const size_t available = bytes_.size() - static_cast<size_t>(position_);
    const size_t n = std::min(count, available);
    if (n) std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (count == 0) return 0;
    const size_t end = static_cast<size_t>(position_) + count;
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, count);
    position_ = end;
    return count;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    TFileStream stream(path, TFileStream::Mode::OpenRead);
    return stream.ReadRest();
}
