// Reading the rest of a stream into a buffer that is not zero-filled first behaves as the
// plain read: the same bytes, the position at the end, a short read and the allocation limit
// failing the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/stream.h"
#include "tests/support/test_support.h"

namespace {

// A stream that claims more bytes than it gives, as a file cut short while it is read does.
class ShortStream final : public TStream {
public:
    explicit ShortStream(size_t gives) : gives_(gives) {}
    size_t Read(void* buffer, size_t count) override {
        const size_t n = std::min(count, gives_ - size_t(position_));
        std::memset(buffer, 7, n);
        position_ += n;
        return n;
    }
    size_t Write(const void*, size_t) override { return 0; }
    uint64_t Position() const override { return position_; }
    void SetPosition(uint64_t position) override { position_ = position; }
    uint64_t Size() const override { return gives_ + 10; }

private:
    size_t gives_;
    uint64_t position_ = 0;
};

std::string Outcome(TStream& stream, bool buffer) {
    try {
        std::vector<uint8_t> bytes;
        if (buffer) {
            const ByteBuffer read = stream.ReadRestBuffer();
            bytes.assign(read.begin(), read.end());
        } else {
            bytes = stream.ReadRest();
        }
        return std::string(bytes.begin(), bytes.end()) + " @" + std::to_string(stream.Position());
    } catch (const std::exception& error) {
        return std::string("error: ") + error.what();
    }
}

}  // namespace

TEST(ReadRest, TheUnfilledBufferReadsAsThePlainOne) {
    testsupport::TempDir dir;
    const std::string path = dir.file("data.bin");
    std::ofstream(path, std::ios::binary) << "0123456789abcdef";
    struct Case {
        const char* name;
        uint64_t start;
        uint64_t limit;  // the allocation limit, 0 for the default
        const char* want;
    };
    const Case cases[] = {
        {"from the start", 0, 0, "0123456789abcdef @16"},
        {"from the middle", 10, 0, "abcdef @16"},
        {"at the end", 16, 0, " @16"},
        {"past the end", 40, 0, " @40"},
        {"over the allocation limit", 0, 15, "error: Not enough memory for this picture"},
    };
    for (const Case& c : cases) {
        for (const bool buffer : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (buffer ? ", unfilled buffer" : ", plain"));
            testsupport::LimitsGuard guard;
            if (c.limit) CurrentPictureLimits().maxAllocation = c.limit;
            TFileStream file(path, TFileStream::Mode::OpenRead);
            file.SetPosition(c.start);
            TMemoryStream memory(std::vector<uint8_t>({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c',
                                                       'd', 'e', 'f'}));
            memory.SetPosition(c.start);
            EXPECT_EQ(Outcome(file, buffer), c.want);
            EXPECT_EQ(Outcome(memory, buffer), c.want);
        }
    }
    for (const bool buffer : {false, true}) {
        ShortStream cut(5);
        EXPECT_EQ(Outcome(cut, buffer), std::string("error: ") + kStreamReadError);
    }
}

// Buffers past the size that is mapped on huge pages: growing into one, copying, shrinking
// out of one and reading a file into one keep every byte.
TEST(ReadRest, LargeBuffersKeepTheirBytes) {
    std::vector<uint8_t> pattern(size_t(5) << 20);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    ByteBuffer grown;
    for (size_t at = 0; at < pattern.size(); at += 4096)
        grown.insert(grown.end(), pattern.begin() + ptrdiff_t(at), pattern.begin() + ptrdiff_t(at + 4096));
    EXPECT_TRUE(std::equal(grown.begin(), grown.end(), pattern.begin(), pattern.end()));
    ByteBuffer copy = grown;
    grown.clear();
    grown.shrink_to_fit();
    copy.resize(1000);
    copy.shrink_to_fit();
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), pattern.begin()));

    testsupport::TempDir dir;
    const std::string path = dir.file("big.bin");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(pattern.data()),
                                                static_cast<std::streamsize>(pattern.size()));
    TFileStream file(path, TFileStream::Mode::OpenRead);
    file.SetPosition(3);
    const ByteBuffer read = file.ReadRestBuffer();
    EXPECT_TRUE(std::equal(read.begin(), read.end(), pattern.begin() + 3, pattern.end()));
}
