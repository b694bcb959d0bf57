#pragma once
// A small writer of Windows metafile and enhanced metafile records, for building test pictures
// record by record.
#include <cstdint>
#include <string>
#include <vector>

#include "graphics/byte_reader.h"

namespace testmeta {

class WmfWriter {
public:
    // Placeable: bounds in logical units and the units per inch; otherwise a plain metafile.
    WmfWriter(bool placeable, int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch,
              uint16_t objects = 16)
        : placeable_(placeable), left_(left), top_(top), right_(right), bottom_(bottom), inch_(inch), objects_(objects) {}

    // One record of 16-bit parameters as they stand in the file.
    WmfWriter& Rec(uint16_t function, std::vector<int> words) {
        ByteWriter w;
        for (int v : words) w.u16le(static_cast<uint16_t>(v));
        return Raw(function, w.buffer());
    }
    WmfWriter& Raw(uint16_t function, const std::vector<uint8_t>& params) {
        std::vector<uint8_t> p = params;
        if (p.size() % 2) p.push_back(0);
        ByteWriter w;
        w.u32le(static_cast<uint32_t>(3 + p.size() / 2));
        w.u16le(function);
        w.bytes(p);
        records_.insert(records_.end(), w.buffer().begin(), w.buffer().end());
        return *this;
    }
    // A record whose size field says what the caller wants.
    WmfWriter& SizedRaw(uint32_t words, uint16_t function, const std::vector<uint8_t>& params) {
        ByteWriter w;
        w.u32le(words);
        w.u16le(function);
        w.bytes(params);
        records_.insert(records_.end(), w.buffer().begin(), w.buffer().end());
        return *this;
    }

    // Common records, parameters in the natural order.
    WmfWriter& Brush(uint32_t color, uint16_t style = 0, uint16_t hatch = 0) {
        ByteWriter w;
        w.u16le(style);
        w.u32le(color);
        w.u16le(hatch);
        return Raw(0x02FC, w.buffer());
    }
    WmfWriter& Pen(uint16_t style, int16_t width, uint32_t color) {
        ByteWriter w;
        w.u16le(style);
        w.u16le(static_cast<uint16_t>(width));
        w.u16le(0);
        w.u32le(color);
        return Raw(0x02FA, w.buffer());
    }
    WmfWriter& Font(int16_t height, int16_t weight, bool italic, int16_t escapement, const std::string& face) {
        ByteWriter w;
        w.u16le(static_cast<uint16_t>(height));
        w.u16le(0);
        w.u16le(static_cast<uint16_t>(escapement));
        w.u16le(static_cast<uint16_t>(escapement));
        w.u16le(static_cast<uint16_t>(weight));
        w.u8(italic);
        w.u8(0);
        w.u8(0);
        w.u8(0);
        w.fill(0, 4);
        w.text(face);
        w.u8(0);
        return Raw(0x02FB, w.buffer());
    }
    WmfWriter& Select(uint16_t index) { return Rec(0x012D, {index}); }
    WmfWriter& Rectangle(int l, int t, int r, int b) { return Rec(0x041B, {b, r, t, l}); }
    WmfWriter& TextOut(int x, int y, const std::string& text) {
        ByteWriter w;
        w.u16le(static_cast<uint16_t>(text.size()));
        w.text(text);
        if (text.size() % 2) w.u8(0);
        w.u16le(static_cast<uint16_t>(y));
        w.u16le(static_cast<uint16_t>(x));
        return Raw(0x0521, w.buffer());
    }
    WmfWriter& Append(const std::vector<uint8_t>& bytes) {
        records_.insert(records_.end(), bytes.begin(), bytes.end());
        return *this;
    }

    std::vector<uint8_t> Build(bool withEof = true) const {
        ByteWriter w;
        if (placeable_) {
            ByteWriter h;
            h.u32le(0x9AC6CDD7);
            h.u16le(0);
            for (int16_t v : {left_, top_, right_, bottom_}) h.u16le(static_cast<uint16_t>(v));
            h.u16le(inch_);
            h.u32le(0);
            uint16_t sum = 0;
            for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(h.buffer()[i] | (h.buffer()[i + 1] << 8));
            h.u16le(sum);
            w.bytes(h.buffer());
        }
        const size_t words = 9 + records_.size() / 2 + (withEof ? 3 : 0);
        w.u16le(1);
        w.u16le(9);
        w.u16le(0x0300);
        w.u32le(static_cast<uint32_t>(words));
        w.u16le(objects_);
        w.u32le(0);
        w.u16le(0);
        w.bytes(records_);
        if (withEof) {
            w.u32le(3);
            w.u16le(0);
        }
        return w.take();
    }

private:
    bool placeable_;
    int16_t left_, top_, right_, bottom_;
    uint16_t inch_, objects_;
    std::vector<uint8_t> records_;
};

class EmfWriter {
public:
    // frame in 0.01 mm; the reference device in pixels and millimetres.
    EmfWriter(int32_t frameRight, int32_t frameBottom, int32_t devW = 960, int32_t devH = 480, int32_t mmW = 254,
              int32_t mmH = 127, uint16_t handles = 16)
        : frameRight_(frameRight), frameBottom_(frameBottom), devW_(devW), devH_(devH), mmW_(mmW), mmH_(mmH),
          handles_(handles) {}

    // One record: 32-bit values as given.
    EmfWriter& Rec(uint32_t type, std::vector<int64_t> values) {
        ByteWriter w;
        for (int64_t v : values) w.u32le(static_cast<uint32_t>(v));
        return Raw(type, w.buffer());
    }
    EmfWriter& Raw(uint32_t type, std::vector<uint8_t> body) {
        while (body.size() % 4) body.push_back(0);
        ByteWriter w;
        w.u32le(type);
        w.u32le(static_cast<uint32_t>(8 + body.size()));
        w.bytes(body);
        records_.insert(records_.end(), w.buffer().begin(), w.buffer().end());
        ++count_;
        return *this;
    }
    EmfWriter& Append(const std::vector<uint8_t>& bytes) {
        records_.insert(records_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    EmfWriter& Brush(uint32_t index, uint32_t color, uint32_t style = 0, uint32_t hatch = 0) {
        return Rec(39, {index, style, color, hatch});
    }
    EmfWriter& Select(uint32_t index) { return Rec(37, {index}); }
    EmfWriter& NullPen() { return Select(0x80000008u); }
    EmfWriter& Rectangle(int l, int t, int r, int b) { return Rec(43, {l, t, r, b}); }
    EmfWriter& Font(uint32_t index, int32_t height, int32_t weight, bool italic, int32_t escapement,
                    const std::u16string& face) {
        ByteWriter w;
        w.u32le(index);
        for (int32_t v : {height, 0, escapement, escapement, weight}) w.i32le(v);
        w.u8(italic);
        w.fill(0, 7);
        for (size_t i = 0; i < 32; ++i) w.u16le(i < face.size() ? face[i] : 0);
        return Raw(82, w.take());
    }
    EmfWriter& TextW(int32_t x, int32_t y, const std::u16string& text) {
        ByteWriter w;
        w.fill(0, 16);  // bounds
        w.u32le(1);
        w.u32le(0);
        w.u32le(0);
        w.i32le(x);
        w.i32le(y);
        w.u32le(static_cast<uint32_t>(text.size()));
        const uint32_t offString = 8 + 16 + 12 + 40;
        w.u32le(offString);
        w.u32le(0x100);  // no rectangle
        w.fill(0, 16);
        w.u32le(0);  // no advances
        for (char16_t c : text) w.u16le(c);
        return Raw(84, w.take());
    }

    std::vector<uint8_t> Build(bool withEof = true) const {
        ByteWriter w;
        const size_t total = 88 + records_.size() + (withEof ? 20 : 0);
        w.u32le(1);
        w.u32le(88);
        for (int32_t v : {0, 0, devW_ - 1, devH_ - 1}) w.i32le(v);
        for (int32_t v : {0, 0, frameRight_, frameBottom_}) w.i32le(v);
        w.u32le(0x464D4520);
        w.u32le(0x10000);
        w.u32le(static_cast<uint32_t>(total));
        w.u32le(count_ + 2);
        w.u16le(handles_);
        w.u16le(0);
        w.u32le(0);
        w.u32le(0);
        w.u32le(0);
        for (int32_t v : {devW_, devH_, mmW_, mmH_}) w.i32le(v);
        w.bytes(records_);
        if (withEof) {
            w.u32le(14);
            w.u32le(20);
            w.u32le(0);
            w.u32le(16);
            w.u32le(20);
        }
        return w.take();
    }

private:
    int32_t frameRight_, frameBottom_, devW_, devH_, mmW_, mmH_;
    uint16_t handles_;
    uint32_t count_ = 0;
    std::vector<uint8_t> records_;
};

// A bottom-up 24-bit DIB (info header and rows) of the given pixels, listed top row first as
// 0xRRGGBB values.
inline std::vector<uint8_t> Dib24(int width, int height, const std::vector<uint32_t>& topDownPixels) {
    ByteWriter w;
    w.u32le(40);
    w.i32le(width);
    w.i32le(height);
    w.u16le(1);
    w.u16le(24);
    w.fill(0, 24);
    const size_t stride = (size_t(width) * 3 + 3) / 4 * 4;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = topDownPixels[size_t(y) * size_t(width) + size_t(x)];
            w.u8(c & 0xFF);
            w.u8((c >> 8) & 0xFF);
            w.u8((c >> 16) & 0xFF);
        }
        w.fill(0, stride - size_t(width) * 3);
    }
    return w.take();
}

}  // namespace testmeta
