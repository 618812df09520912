#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class AtomicFile;

// An animated PNG (APNG) written frame by frame to its file, so that only the frame before
// is held: each frame's image data compressed as EncodePng compresses a picture, the first as
// the file's default image (IDAT), the rest as fdAT. A frame after the first holds only the
// rectangle that differs from the frame before (drawn over it, source replacing), so a map
// where few tiles move makes a small file. Plays for ever. Frame durations are
// delayNum/delayDen seconds, as the format holds them. The file is out of sight until Commit
// puts it in place whole; nothing is left when the writer goes before. Failures name the file.
class ApngWriter {
public:
    // frames: how many AddFrame calls follow; every frame is width x height.
    ApngWriter(const QString& path, int width, int height, int frames);
    ~ApngWriter();
    ApngWriter(const ApngWriter&) = delete;
    ApngWriter& operator=(const ApngWriter&) = delete;

    // The next frame, Format_RGBA8888 of the picture's size; the duration numerator and
    // denominator each at most 65535 (InvalidCall otherwise, as for a frame too many).
    void AddFrame(const QImage& frame, std::uint16_t delayNum, std::uint16_t delayDen);
    // Closes the file once every frame was given, and puts it in place.
    void Commit();

private:
    void write(const QByteArray& bytes);

    QString path_;
    std::unique_ptr<AtomicFile> file_;
    int width_;
    int height_;
    int frames_;
    int added_ = 0;
    std::uint32_t sequence_ = 0;
    QImage previous_;
};

// A duration of ms milliseconds as APNG frame durations, exactly: one where it fits in
// 65535 ms, else parts of at most 65535 ms (the same picture shown as several frames).
struct ApngDelay {
    std::uint16_t num;
    std::uint16_t den;
};
std::vector<ApngDelay> ApngDelaysOf(std::int64_t ms);
