// Test images without an image library: quadrant pictures as RGBA PNG
// (stored, uncompressed deflate blocks) or 24-bit BMP bytes, and a reader
// of the 24-bit BMP pages the Windows image page writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace quorvin::testing {

struct Pixel {
    unsigned char r, g, b, a;
};

inline void PutBe(std::string& out, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

inline void PngChunk(std::string& png, const char* type, const std::string& data) {
    PutBe(png, static_cast<std::uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    PutBe(png, Crc32(body));
}

// A w x h RGBA PNG whose four quadrants have the given colours.
inline std::string QuadrantPng(int w, int h, Pixel tl, Pixel tr, Pixel bl, Pixel br) {
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back('\0');  // filter: none
        for (int x = 0; x < w; ++x) {
            Pixel p = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
            raw += {static_cast<char>(p.r), static_cast<char>(p.g), static_cast<char>(p.b), static_cast<char>(p.a)};
        }
    }
    std::string z = "\x78\x01";
    for (std::size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n >= raw.size() ? '\x01' : '\x00');
        z.push_back(static_cast<char>(n & 0xFF));
        z.push_back(static_cast<char>(n >> 8));
        z.push_back(static_cast<char>(~n & 0xFF));
        z.push_back(static_cast<char>((~n >> 8) & 0xFF));
        z.append(raw, at, n);
        if (raw.empty()) break;
    }
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBe(z, (b << 16) | a);
    std::string png = "\x89PNG\r\n\x1A\n";
    std::string header;
    PutBe(header, static_cast<std::uint32_t>(w));
    PutBe(header, static_cast<std::uint32_t>(h));
    header += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", z);
    PngChunk(png, "IEND", "");
    return png;
}

inline std::uint32_t GetLe(const std::string& bytes, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
    return v;
}

// A 24-bit bottom-up BMP's size and pixels; false when it is not one.
struct Bmp {
    int width = 0, height = 0;
    std::string bytes;
    std::size_t offset = 0;
    Pixel At(int x, int y) const {
        const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
        const std::size_t at = offset + (height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
        return {static_cast<unsigned char>(bytes[at + 2]), static_cast<unsigned char>(bytes[at + 1]),
                static_cast<unsigned char>(bytes[at]), 255};
    }
};

inline bool ReadBmp(const std::string& bytes, Bmp& bmp) {
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0 || GetLe(bytes, 28, 2) != 24) return false;
    bmp.bytes = bytes;
    bmp.offset = GetLe(bytes, 10, 4);
    bmp.width = static_cast<int>(GetLe(bytes, 18, 4));
    bmp.height = static_cast<int>(GetLe(bytes, 22, 4));
    const std::size_t stride = (static_cast<std::size_t>(bmp.width) * 3 + 3) & ~std::size_t{3};
    return bmp.width > 0 && bmp.height > 0 && bmp.offset + stride * bmp.height <= bytes.size();
}

}  // namespace quorvin::testing
