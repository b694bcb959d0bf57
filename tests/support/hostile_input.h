#pragma once
// Bad-input suites: a small valid file, the table of where its fields and data lie, and the
// damaged copies made from them (cut short, every field set to the values that break readers,
// data regions scrambled). Each copy must load with one of the program's own errors or give a
// picture, within a second and the memory limits; anything else is reported with its name.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace hostile {

using Bytes = std::vector<uint8_t>;

enum class Kind {
    Dimension,  // a width or height: also set together with the other dimensions
    Count,      // a number of things (entries, channels, planes, bits)
    Offset,     // where something starts (relative to the field's base)
    Length,     // how many bytes something has
    Enum,       // a code picking a variant (compression, type, mode)
    Index,      // an index into a palette or table
    Text,       // a decimal number written as text (width = its character count)
};

struct Field {
    std::string name;
    size_t at = 0;
    size_t width = 4;  // bytes (1, 2, 4, 8); characters for Text
    bool bigEndian = false;
    Kind kind = Kind::Count;
    int64_t base = 0;  // what an Offset counts from
};

// Bytes that a codec decodes (compressed rows, a palette, pixel data).
struct Region {
    std::string name;
    size_t at = 0;
    size_t size = 0;
};

struct Sample {
    std::string name;
    Bytes bytes;
    std::vector<Field> fields;
    std::vector<Region> regions;
    // Run on every damaged copy, e.g. to recompute checksums so the damage reaches the parser.
    std::function<void(Bytes&)> fixup;
    // Cut at every offset up to this many bytes, then at about as many more over the rest.
    size_t everyCut = 600;
};

struct Case {
    std::string name;
    Bytes bytes;
};

// Writes a file while recording its fields: every integer call with a name adds a Field.
class FileBuilder {
public:
    explicit FileBuilder(bool bigEndian = false) : bigEndian_(bigEndian) {}
    size_t u8(uint64_t v, const std::string& name = {}, Kind kind = Kind::Count, int64_t base = 0);
    size_t u16(uint64_t v, const std::string& name = {}, Kind kind = Kind::Count, int64_t base = 0);
    size_t u32(uint64_t v, const std::string& name = {}, Kind kind = Kind::Count, int64_t base = 0);
    // Plain bytes; with a name they form a Region.
    size_t bytes(std::span<const uint8_t> data, const std::string& region = {});
    size_t text(const std::string& s, const std::string& name = {}, Kind kind = Kind::Text);
    void fill(uint8_t value, size_t count) { bytes_.insert(bytes_.end(), count, value); }
    // Overwrites an integer written earlier (offsets and lengths known only later).
    void patch(size_t at, size_t width, uint64_t v);
    size_t size() const { return bytes_.size(); }
    bool bigEndian() const { return bigEndian_; }
    void setBigEndian(bool big) { bigEndian_ = big; }
    Sample take(const std::string& name);

    std::vector<Field> fields;
    std::vector<Region> regions;

private:
    size_t integer(uint64_t v, size_t width, const std::string& name, Kind kind, int64_t base);
    bool bigEndian_;
    Bytes bytes_;
};

uint64_t ReadField(const Bytes& bytes, const Field& f);
void WriteField(Bytes& bytes, const Field& f, uint64_t v);

// The damaged copies of one sample.
std::vector<Case> MakeCases(const Sample& sample);

// Deterministic noise.
Bytes Noise(size_t count, uint32_t seed);

// Loads one file; returns normally for a picture, throws for a refusal.
using Loader = std::function<void(std::span<const uint8_t>)>;

// Live heap bytes and the largest single request since the last reset, when the test program
// counts them (it replaces operator new); null otherwise.
struct HeapMeter {
    size_t (*live)() = nullptr;
    size_t (*peak)() = nullptr;     // highest live count since reset
    size_t (*largest)() = nullptr;  // largest single allocation since reset
    void (*reset)() = nullptr;
};
void SetHeapMeter(const HeapMeter& meter);
const HeapMeter& CurrentHeapMeter();

struct RunLimits {
    double maxSeconds = 1.0;
    uint64_t maxPixels = uint64_t(1) << 20;
    uint64_t maxAllocation = uint64_t(64) << 20;
};

// Runs the sample itself (which must load) and every case. Returns one line per fault (empty:
// none). With IMBRIX_HOSTILE_DUMP set to a folder, each faulty case is written there.
std::vector<std::string> RunCases(const Sample& sample, const std::vector<Case>& cases, const Loader& load,
                                  const RunLimits& limits = {});

// MakeCases plus RunCases over several samples, with extra hand-made cases, as one report.
std::string CheckSamples(const std::vector<Sample>& samples, const Loader& load,
                         const std::vector<Case>& extra = {}, const RunLimits& limits = {});

}  // namespace hostile
