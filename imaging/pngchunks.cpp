#include "imaging/pngchunks.h"

#include <libdeflate.h>

#include <cstdint>
#include <cstring>
#include <vector>

void PutBig32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void AppendPngChunk(QByteArray& out, const char* type, const void* data, std::size_t size) {
    unsigned char head[8];
    PutBig32(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    out.append(reinterpret_cast<const char*>(head), 8);
    out.append(static_cast<const char*>(data), static_cast<qsizetype>(size));
    std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    // Given no buffer, the sum starts afresh instead of going on.
    if (size > 0) {
        crc = libdeflate_crc32(crc, data, size);
    }
    unsigned char tail[4];
    PutBig32(tail, crc);
    out.append(reinterpret_cast<const char*>(tail), 4);
}

QByteArray PngHead(int width, int height, const QList<QRgb>& palette, bool indexed) {
    QByteArray out;
    out.append("\x89PNG\r\n\x1a\n", 8);
    unsigned char ihdr[13];
    PutBig32(ihdr, static_cast<std::uint32_t>(width));
    PutBig32(ihdr + 4, static_cast<std::uint32_t>(height));
    ihdr[8] = 8;
    ihdr[9] = indexed ? 3 : 6;
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    AppendPngChunk(out, "IHDR", ihdr, sizeof ihdr);
    if (indexed) {
        std::vector<unsigned char> plte;
        std::vector<unsigned char> trns;
        for (const QRgb c : palette) {
            plte.insert(plte.end(), {static_cast<unsigned char>(qRed(c)), static_cast<unsigned char>(qGreen(c)),
                                     static_cast<unsigned char>(qBlue(c))});
            trns.push_back(static_cast<unsigned char>(qAlpha(c)));
        }
        // tRNS stops after the last entry that is not opaque.
        while (!trns.empty() && trns.back() == 255) {
            trns.pop_back();
        }
        AppendPngChunk(out, "PLTE", plte.data(), plte.size());
        if (!trns.empty()) {
            AppendPngChunk(out, "tRNS", trns.data(), trns.size());
        }
    }
    return out;
}

QByteArray PngTail() {
    QByteArray out;
    AppendPngChunk(out, "IEND", nullptr, 0);
    return out;
}

namespace {
std::uint32_t getBig32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
}  // namespace

bool PlainPng(const unsigned char* data, std::size_t size, int width, int height) {
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    // Chunks every reader draws the same pixels with, or ignores.
    static const char* const plain[] = {"IHDR", "PLTE", "tRNS", "IDAT", "IEND", "sRGB", "pHYs",
                                        "tEXt", "zTXt", "iTXt", "tIME", "bKGD"};
    if (size < 8 || std::memcmp(data, signature, 8) != 0) {
        return false;
    }
    std::size_t at = 8;
    bool first = true;
    while (size - at >= 12) {
        const std::size_t length = getBig32(data + at);
        if (length > size - at - 12) {
            return false;
        }
        const unsigned char* type = data + at + 4;
        if (libdeflate_crc32(0, type, 4 + length) != getBig32(type + 4 + length)) {
            return false;
        }
        bool known = false;
        for (const char* name : plain) {
            known = known || std::memcmp(type, name, 4) == 0;
        }
        if (!known || first != (std::memcmp(type, "IHDR", 4) == 0)) {
            return false;
        }
        if (first) {
            const unsigned char* h = type + 4;
            if (length != 13 || getBig32(h) != static_cast<std::uint32_t>(width) ||
                getBig32(h + 4) != static_cast<std::uint32_t>(height) || h[8] != 8 || h[12] != 0) {
                return false;
            }
            first = false;
        }
        at += 12 + length;
        if (std::memcmp(type, "IEND", 4) == 0) {
            return at == size;
        }
    }
    return false;
}
