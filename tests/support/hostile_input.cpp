#include "tests/support/hostile_input.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <thread>
#include <typeinfo>

#include "graphics/errors.h"
#include "graphics/size_check.h"
#include "graphics/warning_sink.h"
#include "tests/support/test_support.h"

namespace hostile {

// ---- building ---------------------------------------------------------------------------

size_t FileBuilder::integer(uint64_t v, size_t width, const std::string& name, Kind kind, int64_t base) {
    const size_t at = bytes_.size();
    bytes_.resize(at + width);
    Field f{name, at, width, bigEndian_, kind, base};
    WriteField(bytes_, f, v);
    if (!name.empty()) fields.push_back(f);
    return at;
}

size_t FileBuilder::u8(uint64_t v, const std::string& name, Kind kind, int64_t base) {
    return integer(v, 1, name, kind, base);
}
size_t FileBuilder::u16(uint64_t v, const std::string& name, Kind kind, int64_t base) {
    return integer(v, 2, name, kind, base);
}
size_t FileBuilder::u32(uint64_t v, const std::string& name, Kind kind, int64_t base) {
    return integer(v, 4, name, kind, base);
}

size_t FileBuilder::bytes(std::span<const uint8_t> data, const std::string& region) {
    const size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    if (!region.empty() && !data.empty()) regions.push_back({region, at, data.size()});
    return at;
}

size_t FileBuilder::text(const std::string& s, const std::string& name, Kind kind) {
    const size_t at = bytes_.size();
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    if (!name.empty()) fields.push_back({name, at, s.size(), false, kind, 0});
    return at;
}

void FileBuilder::patch(size_t at, size_t width, uint64_t v) { WriteField(bytes_, {"", at, width, bigEndian_}, v); }

Sample FileBuilder::take(const std::string& name) {
    Sample s;
    s.name = name;
    s.bytes = std::move(bytes_);
    s.fields = std::move(fields);
    s.regions = std::move(regions);
    return s;
}

uint64_t ReadField(const Bytes& bytes, const Field& f) {
    uint64_t v = 0;
    for (size_t i = 0; i < f.width; ++i) {
        const size_t k = f.bigEndian ? i : f.width - 1 - i;
        v = (v << 8) | bytes.at(f.at + k);
    }
    return v;
}

void WriteField(Bytes& bytes, const Field& f, uint64_t v) {
    for (size_t i = 0; i < f.width; ++i) {
        const size_t k = f.bigEndian ? f.width - 1 - i : i;
        bytes.at(f.at + k) = static_cast<uint8_t>(v >> (8 * i));
    }
}

Bytes Noise(size_t count, uint32_t seed) {
    Bytes out(count);
    uint32_t s = seed * 2654435761u + 1;
    for (auto& b : out) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = static_cast<uint8_t>(s >> 3);
    }
    return out;
}

// ---- damaging ---------------------------------------------------------------------------

namespace {

uint64_t MaxOf(size_t width) { return width >= 8 ? ~uint64_t(0) : (uint64_t(1) << (8 * width)) - 1; }

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

// The values that break readers, for one field of the file.
std::vector<uint64_t> ValuesFor(const Field& f, uint64_t original, size_t fileSize) {
    const uint64_t max = MaxOf(f.width);
    const uint64_t sign = max / 2 + 1;
    std::vector<uint64_t> v = {0, 1, 2, max, max / 2, sign, original - 1, original + 1};
    switch (f.kind) {
        case Kind::Dimension:
        case Kind::Count:
            // Products of two or three such numbers overflow 32 or 64 bits.
            for (uint64_t x : {0x7Fu, 0x80u, 0x4000u, 46341u, 0x10000u, 0x10001u})
                v.push_back(x);
            for (uint64_t x : {0x20000000ull, 0x40000001ull, 0x55555556ull, 0xFFFFFFFFull, 0x100000001ull})
                v.push_back(x);
            break;
        case Kind::Offset: {
            const uint64_t base = static_cast<uint64_t>(f.base);
            v.push_back(fileSize - base);         // at the end
            v.push_back(fileSize - base + 1);     // past it
            v.push_back(fileSize - base - 1);     // the last byte
            v.push_back(f.at - base);             // at the field itself
            v.push_back(original / 2);            // backwards
            v.push_back(original + sign / 2);     // far past the end
            v.push_back(0xFFFFFFF0ull);
            break;
        }
        case Kind::Length:
            v.push_back(fileSize);
            v.push_back(fileSize - f.at);
            v.push_back(original * 2);
            v.push_back(0xFFFFu);
            v.push_back(0x80000000ull);
            v.push_back(0xFFFFFFF0ull);
            break;
        case Kind::Enum:
            for (uint64_t x = 3; x <= std::min<uint64_t>(max, 40); ++x) v.push_back(x);
            for (uint64_t x : {0xFFu, 0x8001u, 32773u, 32946u, 34676u}) v.push_back(x);
            break;
        case Kind::Index:
            v.push_back(0x7F);
            v.push_back(0xFF);
            v.push_back(0x100);
            break;
        case Kind::Text:
            break;
    }
    std::vector<uint64_t> out;
    std::set<uint64_t> seen = {original};
    for (uint64_t x : v) {
        x &= max;
        if (seen.insert(x).second) out.push_back(x);
    }
    return out;
}

// Values set into every dimension field at once: their product overflows 32 or 64 bits, or
// sits just at or past the pixel limits.
const uint64_t kJointDimensions[] = {0x400,      0x401,      0x800,      0x4000,     0x7FFF,
                                     0x8000,     0xFFFF,     46341,      0x10000,    0x10001,
                                     0x40000001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x100000001ull};

const char* const kTextValues[] = {"0", "1", "2", "65535", "65536", "4294967295", "4294967296",
                                   "18446744073709551617", "999999999999999999999999999999", "-1", "",
                                   "2147483648"};

}  // namespace

std::vector<Case> MakeCases(const Sample& sample) {
    const size_t maxEveryCut = sample.everyCut;
    std::vector<Case> cases;
    const Bytes& file = sample.bytes;
    const size_t n = file.size();
    auto add = [&](std::string name, Bytes bytes) {
        if (sample.fixup) sample.fixup(bytes);
        cases.push_back({std::move(name), std::move(bytes)});
    };

    // Cut short.
    std::set<size_t> cuts;
    for (size_t i = 0; i < std::min(n, maxEveryCut); ++i) cuts.insert(i);
    if (n > maxEveryCut) {
        const size_t step = std::max<size_t>(1, (n - maxEveryCut) / maxEveryCut);
        for (size_t i = maxEveryCut; i < n; i += step) cuts.insert(i);
        for (size_t i = n - std::min<size_t>(n, std::min<size_t>(32, maxEveryCut)); i < n; ++i) cuts.insert(i);
    }
    for (size_t cut : cuts) {
        // A cut file keeps its checksums as they were: only the end is gone.
        cases.push_back({"cut at " + std::to_string(cut), Bytes(file.begin(), file.begin() + cut)});
    }
    // Followed by junk.
    for (uint8_t fill : {uint8_t(0), uint8_t(0xFF)}) {
        Bytes longer = file;
        longer.insert(longer.end(), 4096, fill);
        add("4096 bytes of " + Hex(fill) + " appended", std::move(longer));
    }

    // Each field on its own.
    for (const Field& f : sample.fields) {
        if (f.at + f.width > n) continue;
        if (f.kind == Kind::Text) {
            for (const char* text : kTextValues) {
                Bytes b(file.begin(), file.begin() + f.at);
                b.insert(b.end(), text, text + std::strlen(text));
                b.insert(b.end(), file.begin() + f.at + f.width, file.end());
                add(f.name + " = \"" + text + "\"", std::move(b));
            }
            continue;
        }
        const uint64_t original = ReadField(file, f);
        for (uint64_t v : ValuesFor(f, original, n)) {
            Bytes b = file;
            WriteField(b, f, v);
            add(f.name + " = " + Hex(v), std::move(b));
        }
    }
    // Every dimension at once.
    size_t dimensions = 0;
    for (const Field& f : sample.fields) dimensions += f.kind == Kind::Dimension;
    if (dimensions > 1) {
        for (uint64_t v : kJointDimensions) {
            Bytes b = file;
            bool changed = false;
            for (const Field& f : sample.fields) {
                if (f.kind != Kind::Dimension || f.at + f.width > n) continue;
                if (f.width < 8 && v > MaxOf(f.width)) continue;
                if (f.kind == Kind::Text) continue;
                WriteField(b, f, v);
                changed = true;
            }
            if (changed) add("every dimension = " + Hex(v), std::move(b));
        }
    }

    // Data regions scrambled.
    for (const Region& r : sample.regions) {
        if (r.at + r.size > n) continue;
        for (uint8_t fill : {0x00, 0xFF, 0x80, 0x7F, 0x81, 0xC1, 0x01}) {
            Bytes b = file;
            std::fill(b.begin() + r.at, b.begin() + r.at + r.size, fill);
            add(r.name + " filled with " + Hex(fill), std::move(b));
        }
        for (uint32_t seed = 1; seed <= 6; ++seed) {
            Bytes b = file;
            const Bytes noise = Noise(r.size, seed * 977 + uint32_t(r.at));
            std::copy(noise.begin(), noise.end(), b.begin() + r.at);
            add(r.name + " noise " + std::to_string(seed), std::move(b));
        }
        for (uint32_t seed = 1; seed <= 8; ++seed) {
            Bytes b = file;
            const Bytes where = Noise(8, seed * 7919 + uint32_t(r.at));
            for (size_t k = 0; k < 4; ++k) b[r.at + (where[2 * k] * 257u + where[2 * k + 1]) % r.size] ^= uint8_t(1u << (k + seed) % 8);
            add(r.name + " bit flips " + std::to_string(seed), std::move(b));
        }
    }

    // A few bytes anywhere.
    for (uint32_t seed = 1; seed <= std::min<size_t>(48, 2 * maxEveryCut) && n > 0; ++seed) {
        Bytes b = file;
        const Bytes r = Noise(12, seed * 104729 + uint32_t(n));
        const size_t changes = 1 + r[0] % 3;
        for (size_t k = 0; k < changes; ++k)
            b[(size_t(r[1 + 3 * k]) << 8 | r[2 + 3 * k]) % n] = r[3 + 3 * k];
        add("random bytes " + std::to_string(seed), std::move(b));
    }
    return cases;
}

// ---- running ----------------------------------------------------------------------------

namespace {

HeapMeter heapMeter;

// Aborts the test program, naming the case, when one case runs for far longer than allowed:
// a hang would otherwise only show as a test time-out without the case's name.
class Watchdog {
public:
    explicit Watchdog(double seconds) : limit_(seconds), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Begin(const std::string& name) {
        std::lock_guard lock(mutex_);
        name_ = name;
        start_ = std::chrono::steady_clock::now();
        running_ = true;
    }
    void End() {
        std::lock_guard lock(mutex_);
        running_ = false;
    }

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            wake_.wait_for(lock, std::chrono::milliseconds(200));
            if (running_ && std::chrono::steady_clock::now() - start_ > std::chrono::duration<double>(limit_)) {
                std::fprintf(stderr, "hostile input: case \"%s\" still running after %.0f s (a hang)\n",
                             name_.c_str(), limit_);
                std::abort();
            }
        }
    }
    double limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string name_;
    std::chrono::steady_clock::time_point start_;
    bool running_ = false;
    bool stop_ = false;
    std::thread thread_;
};

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::string SafeFileName(const std::string& s) {
    std::string out;
    for (char c : s) out += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return out.substr(0, 120);
}

}  // namespace

void SetHeapMeter(const HeapMeter& meter) { heapMeter = meter; }
const HeapMeter& CurrentHeapMeter() { return heapMeter; }

std::vector<std::string> RunCases(const Sample& sample, const std::vector<Case>& cases, const Loader& load,
                                  const RunLimits& limits) {
    testsupport::LimitsGuard guard;
    CurrentPictureLimits().maxPixels = limits.maxPixels;
    CurrentPictureLimits().maxAllocation = limits.maxAllocation;
    SetWarningSink(nullptr);
    Watchdog watchdog(30);
    const char* dump = std::getenv("IMBRIX_HOSTILE_DUMP");
    // With IMBRIX_HOSTILE_PICK as well, the cases whose name holds that text are written too
    // (to keep one as a regression file once its fault is fixed).
    const char* pick = std::getenv("IMBRIX_HOSTILE_PICK");

    std::vector<std::string> faults;
    auto runOne = [&](const std::string& name, const Bytes& bytes, bool mustLoad) {
        std::string fault;
        // A heap copy of exactly the file's size, so a read past its end trips the sanitizer.
        const std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        const size_t before = heapMeter.live ? heapMeter.live() : 0;
        if (heapMeter.reset) heapMeter.reset();
        watchdog.Begin(name);
        // Processor time of this thread: a busy machine must not make a case look slow.
        const double start = ThreadSeconds();
        try {
            load(std::span<const uint8_t>(copy.get(), bytes.size()));
        } catch (const EImbrixError& e) {
            if (mustLoad) fault = std::string("the valid file is refused: ") + e.what();
        } catch (const std::bad_alloc&) {
            fault = "allocation failed (std::bad_alloc): unbounded allocation";
        } catch (const std::exception& e) {
            fault = std::string("not an error of the program: ") + typeid(e).name() + ": " + e.what();
        } catch (...) {
            fault = "unknown exception";
        }
        const double seconds = ThreadSeconds() - start;
        watchdog.End();
        if (fault.empty() && seconds > limits.maxSeconds) {
            char text[64];
            std::snprintf(text, sizeof text, "took %.2f s", seconds);
            fault = text;
        }
        if (fault.empty() && heapMeter.largest && heapMeter.largest() > limits.maxAllocation)
            fault = "one allocation of " + std::to_string(heapMeter.largest()) + " bytes";
        if (fault.empty() && heapMeter.peak && heapMeter.peak() > before + 4 * limits.maxAllocation)
            fault = "heap grew by " + std::to_string(heapMeter.peak() - before) + " bytes";
        const bool picked = pick && (sample.name + ": " + name).find(pick) != std::string::npos;
        if (fault.empty() && !picked) return;
        if (!fault.empty())
            faults.push_back(sample.name + ": " + name + " (" + std::to_string(bytes.size()) + " bytes): " + fault);
        if (dump) {
            std::filesystem::create_directories(dump);
            testsupport::WriteFile((std::filesystem::path(dump) / SafeFileName(sample.name + "-" + name)).string(),
                                   bytes);
        }
    };
    if (!sample.bytes.empty()) runOne("the valid file", sample.bytes, true);
    for (const Case& c : cases) runOne(c.name, c.bytes, false);
    return faults;
}

std::string CheckSamples(const std::vector<Sample>& samples, const Loader& load, const std::vector<Case>& extra,
                         const RunLimits& limits) {
    std::ostringstream report;
    size_t total = 0, faulty = 0;
    auto collect = [&](const std::vector<std::string>& faults, size_t count) {
        total += count;
        for (const std::string& f : faults) {
            if (++faulty <= 40) report << "  " << f << "\n";
        }
    };
    for (const Sample& s : samples) {
        const std::vector<Case> cases = MakeCases(s);
        collect(RunCases(s, cases, load, limits), cases.size());
    }
    if (!extra.empty()) {
        Sample handMade;
        handMade.name = "hand-made";
        collect(RunCases(handMade, extra, load, limits), extra.size());
    }
    std::printf("%zu samples, %zu damaged copies, %zu faulty\n", samples.size(), total, faulty);
    if (faulty == 0) return {};
    return std::to_string(faulty) + " of " + std::to_string(total) + " cases are faulty:\n" + report.str();
}

}  // namespace hostile
