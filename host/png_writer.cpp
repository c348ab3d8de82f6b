// A PNG writer that needs no compression library: stored (uncompressed) deflate blocks inside a
// valid zlib stream, filter type 0 on every row.
#include "ViewCanvas.h"

#include "HostError.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace sehost {

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

uint32_t Adler32(const std::vector<uint8_t>& data) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
    out.insert(out.end(), {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                           static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBig32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

} // namespace

void StraightRgba(const uint32_t* pixels, int32_t count, uint8_t* out) {
    for (int32_t x = 0; x < count; ++x, out += 4) {
        const uint32_t p = pixels[x];
        const uint32_t a = p >> 24;
        if (a == 0) {
            out[0] = out[1] = out[2] = out[3] = 0;
            continue;
        }
        const auto straight = [a](uint32_t c) {
            return static_cast<uint8_t>((c * 255 + a / 2) / a);
        };
        out[0] = straight((p >> 16) & 0xFF);
        out[1] = straight((p >> 8) & 0xFF);
        out[2] = straight(p & 0xFF);
        out[3] = static_cast<uint8_t>(a);
    }
}

void WriteRgbaPng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height,
                  int32_t stride) {
    const size_t row_bytes = 4 * static_cast<size_t>(width) + 1;
    std::vector<uint8_t> raw(static_cast<size_t>(height) * row_bytes);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = &raw[static_cast<size_t>(y) * row_bytes];
        out[0] = 0; // filter: none
        StraightRgba(pixels + static_cast<size_t>(y) * static_cast<size_t>(stride), width, out + 1);
    }

    std::vector<uint8_t> zlib = {0x78, 0x01}; // deflate, 32 KiB window, no dictionary
    constexpr size_t kBlock = 65535;          // the largest stored block
    size_t done = 0;
    do {
        const size_t n = std::min(kBlock, raw.size() - done);
        const bool last = done + n == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.insert(zlib.end(), {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                                 static_cast<uint8_t>(~n), static_cast<uint8_t>(~n >> 8)});
        zlib.insert(zlib.end(), raw.begin() + done, raw.begin() + done + n);
        done += n;
    } while (done < raw.size());
    PutBig32(zlib, Adler32(raw));

    std::vector<uint8_t> header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter, no interlace

    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", zlib);
    PutChunk(file, "IEND", {});

    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        throw HostError("cannot write " + path);
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        throw HostError("cannot write " + path);
    }
}

} // namespace sehost
