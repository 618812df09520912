#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>

// The largest image DecodeDib makes unless told otherwise (256 MB as RGB32): tiles are
// small, and a header that claims more from a small compressed file must not exhaust memory.
constexpr std::size_t MaxDibPixels = std::size_t{1} << 26;

// Decodes a whole Windows bitmap file held in memory into an RGB32 image, or a 24-bit BGR888
// one for an uncompressed 24-bit file, whose rows then keep the file's own bytes.
//
// Takes the core, info and V2 to V5 headers (and OS/2 2.x ones without their own
// compressions); 1, 2, 4, 8, 16, 24 and 32 bits per pixel; uncompressed, RLE8, RLE4 and bit
// field files. Every pixel of the result is defined by the file: a file whose pixel data is
// cut short, or whose header does not hold together, gives a null image, and so does one
// larger than maxPixels. Pixels that an RLE file skips take colour 0 of its palette.
// newImage, when given, makes the image to decode into (it need not be cleared).
// Memory that runs out for the pixels raises std::bad_alloc: that is no fault of the file.
QImage DecodeDib(const unsigned char* bytes, std::size_t size,
                 QImage (*newImage)(int width, int height, QImage::Format format) = nullptr,
                 std::uint64_t maxPixels = MaxDibPixels);


// Every byte the header checks read lies in the first DibHeaderBytes of a file.
constexpr std::size_t DibHeaderBytes = 4096;

// Whether a file of fileSize bytes that starts with head (its first DibHeaderBytes, or the
// whole file when smaller) passes every check DecodeDib makes before it allocates: so a file
// can be refused for its header before its body is read.
bool DibHeaderFits(const unsigned char* head, std::size_t fileSize, std::uint64_t maxPixels = MaxDibPixels);

// Where the rows of an uncompressed 24-bit file lie: such rows can be read straight into a
// BGR888 image's memory, whose rows are padded alike.
struct DibRows {
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    std::size_t start = 0;     // offset of the first row stored
    std::size_t rowBytes = 0;  // the last row may lack its padding
};

// Whether the file passes DibHeaderFits and holds uncompressed 24-bit rows, and where.
bool PlainDibRows(const unsigned char* head, std::size_t fileSize, std::uint64_t maxPixels, DibRows& rows);
