#pragma once

// Builds the leading bytes of BMP, PNG, GIF and JPEG files for the header reader's tests.

#include <QByteArray>

#include <cstdint>
#include <initializer_list>

namespace imagebytes {

inline QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values) {
        out.append(static_cast<char>(static_cast<std::uint8_t>(v)));
    }
    return out;
}

inline QByteArray Le16(std::uint32_t v) { return Bytes({int(v & 0xFF), int((v >> 8) & 0xFF)}); }
inline QByteArray Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
inline QByteArray Be16(std::uint32_t v) { return Bytes({int((v >> 8) & 0xFF), int(v & 0xFF)}); }
inline QByteArray Be32(std::uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }

// Bytes that hold no 0xFF, so they can never be read as a JPEG marker.
inline QByteArray Filler(qsizetype size) {
    QByteArray out(size, '\0');
    for (qsizetype k = 0; k < size; ++k) {
        out[k] = static_cast<char>((k * 37 + 11) % 251);
    }
    return out;
}

// A Windows bitmap with a 40-byte info header and pixelBytes bytes of pixel data.
inline QByteArray Bmp(std::int32_t width, std::int32_t height, std::uint32_t bitsPerPixel,
                      qsizetype pixelBytes = 0) {
    const auto fileSize = static_cast<std::uint32_t>(54 + pixelBytes);
    return QByteArray("BM") + Le32(fileSize) + Le32(0) + Le32(54) + Le32(40) +
           Le32(static_cast<std::uint32_t>(width)) + Le32(static_cast<std::uint32_t>(height)) + Le16(1) +
           Le16(bitsPerPixel) + Le32(0) + Le32(static_cast<std::uint32_t>(pixelBytes)) + Le32(2835) +
           Le32(2835) + Le32(0) + Le32(0) + Filler(pixelBytes);
}

inline std::uint32_t Crc32(const QByteArray& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

inline QByteArray PngChunk(const char* type, const QByteArray& data) {
    const QByteArray typed = QByteArray(type) + data;
    return Be32(static_cast<std::uint32_t>(data.size())) + typed + Be32(Crc32(typed));
}

// PNG signature and IHDR; extra chunks go between IHDR and IEND.
inline QByteArray Png(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType,
                      const QByteArray& extraChunks = QByteArray()) {
    const QByteArray ihdr = Be32(width) + Be32(height) + Bytes({bitDepth, colourType, 0, 0, 0});
    return Bytes({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}) + PngChunk("IHDR", ihdr) + extraChunks +
           PngChunk("IEND", QByteArray());
}

// GIF header with logical screen size and packed flags byte, then the trailer.
inline QByteArray Gif(std::uint32_t width, std::uint32_t height, int flags, const char* version = "GIF89a") {
    return QByteArray(version) + Le16(width) + Le16(height) + Bytes({flags, 0, 0, 0x3B});
}

// JPEG pieces.
inline QByteArray Soi() { return Bytes({0xFF, 0xD8}); }
inline QByteArray Eoi() { return Bytes({0xFF, 0xD9}); }

// A marker with its big-endian length (which counts the two length bytes) and payload.
inline QByteArray Segment(int code, const QByteArray& payload) {
    return Bytes({0xFF, code}) + Be16(static_cast<std::uint32_t>(payload.size() + 2)) + payload;
}

inline QByteArray App0() { return Segment(0xE0, QByteArray("JFIF", 5) + Bytes({1, 1, 0, 0, 1, 0, 1, 0, 0})); }
inline QByteArray Dqt() { return Segment(0xDB, Bytes({0}) + Filler(64)); }
inline QByteArray Dht() { return Segment(0xC4, Bytes({0x00}) + QByteArray(16, '\x01') + Filler(16)); }

// A frame header: precision 8, height, width, components (id, sampling, table) each.
inline QByteArray Sof(int code, std::uint32_t width, std::uint32_t height, int components) {
    QByteArray payload = Bytes({8}) + Be16(height) + Be16(width) + Bytes({components});
    for (int c = 0; c < components; ++c) {
        payload += Bytes({c + 1, 0x11, 0});
    }
    return Segment(code, payload);
}

inline QByteArray Sos(int components) {
    QByteArray payload = Bytes({components});
    for (int c = 0; c < components; ++c) {
        payload += Bytes({c + 1, 0});
    }
    return Segment(0xDA, payload + Bytes({0, 63, 0}));
}

// A whole small JPEG: SOI, APP0, DQT, the frame, DHT, SOS, entropy data, EOI.
inline QByteArray Jpeg(int code, std::uint32_t width, std::uint32_t height, int components) {
    return Soi() + App0() + Dqt() + Sof(code, width, height, components) + Dht() + Sos(components) +
           Filler(200) + Eoi();
}

}  // namespace imagebytes
