#pragma once

#include <QString>

#include <cstdint>

// Reads width, height, depth and type of a BMP, GIF, PNG or JPEG file from its first
// 64 KiB, without decoding any pixel.
class bmpsize {
public:
    // ImageType values.
    static constexpr std::int32_t Unknown = 0;
    static constexpr std::int32_t Gif = 1;
    static constexpr std::int32_t Jpeg = 2;
    static constexpr std::int32_t Png = 3;
    static constexpr std::int32_t Bmp = 4;

    // Sets the four values from the file; a file that cannot be opened or read raises the
    // platform's file error, with the four values 0.
    void ReadImageInfo(const QString& sFileName);

    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    std::int32_t Depth() const { return depth_; }
    std::int32_t ImageType() const { return imageType_; }
    // The sizes as the file's header gives them, where Width and Height keep the 16 bits the
    // window reads: PNG and BMP headers hold 32.
    std::int64_t FullWidth() const { return fullWidth_; }
    std::int64_t FullHeight() const { return fullHeight_; }

private:
    static std::int32_t MakeWord(std::uint8_t low, std::uint8_t high);

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t depth_ = 0;
    std::int32_t imageType_ = 0;
    std::int64_t fullWidth_ = 0;
    std::int64_t fullHeight_ = 0;
};
