#include "support/testsupport.h"

#include "imaging/apngwriter.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <iostream>
#include <QProcess>
#include <QStandardPaths>

namespace {

TEST(Apng, DelaysAreExactMillisecondsSplitPast65535) {
    const struct {
        std::int64_t ms;
        std::vector<std::pair<int, int>> parts;
    } cases[] = {
        {250, {{1, 4}}},        {1, {{1, 1000}}},      {999, {{999, 1000}}},
        {65535, {{13107, 200}}}, {70000, {{13107, 200}, {893, 200}}}, {131071, {{13107, 200}, {13107, 200}, {1, 1000}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<int, int>> parts;
        for (const ApngDelay& d : ApngDelaysOf(c.ms)) {
            parts.emplace_back(d.num, d.den);
        }
        EXPECT_EQ(parts, c.parts) << c.ms;
    }
}

// Frames that change wholly, in one pixel, in a corner, and not at all, read back by Pillow.
TEST(Apng, PillowReadsEveryFrameAndItsDuration) {
    TestFolder folder;
    std::vector<QImage> frames;
    QImage frame(23, 17, QImage::Format_RGBA8888);
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            frame.setPixel(x, y, qRgba(x * 11, y * 15, (x * y) & 255, (x + y) * 6));
        }
    }
    frames.push_back(frame);
    frame.fill(qRgba(10, 20, 30, 255));
    frames.push_back(frame);
    frame.setPixel(22, 16, qRgba(1, 2, 3, 4));
    frames.push_back(frame);
    for (int y = 0; y < 5; ++y) {
        for (int x = 3; x < 9; ++x) {
            frame.setPixel(x, y, 0);
        }
    }
    frames.push_back(frame);
    frames.push_back(frame);
    const std::vector<std::int64_t> durations = {250, 1, 999, 100, 40};
    ApngWriter apng(folder.File("a.png"), frame.width(), frame.height(), static_cast<int>(frames.size()));
    for (std::size_t k = 0; k < frames.size(); ++k) {
        const ApngDelay delay = ApngDelaysOf(durations[k]).front();
        apng.AddFrame(frames[k], delay.num, delay.den);
        EXPECT_FALSE(QFileInfo::exists(folder.File("a.png"))) << "shown before it is whole";
    }
    apng.Commit();
    const QByteArray bytes = ReadBytes(folder.File("a.png"));
    // pngcheck (Debian pngcheck) checks every chunk's length and CRC and the file's structure.
    if (const QString check = QStandardPaths::findExecutable("pngcheck"); !check.isEmpty()) {
        QProcess process;
        process.start(check, {folder.File("a.png")});
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString said = QString::fromLocal8Bit(process.readAllStandardOutput());
        EXPECT_EQ(process.exitCode(), 0) << said.toStdString();
        EXPECT_TRUE(said.startsWith("OK")) << said.toStdString();
    } else {
        std::cout << "[   NOTE   ] pngcheck (Debian pngcheck) is not installed: the chunks are not checked\n";
    }
    QString why;
    const auto read = PillowApngFrames(folder.File("a.png"), folder.Path(), why);
    if (!read) {
        GTEST_SKIP() << why.toStdString();
    }
    ASSERT_EQ(read->size(), frames.size());
    for (std::size_t k = 0; k < frames.size(); ++k) {
        EXPECT_DOUBLE_EQ((*read)[k].duration, static_cast<double>(durations[k])) << k;
        EXPECT_EQ((*read)[k].image.convertToFormat(QImage::Format_RGBA8888), frames[k]) << k;
    }
    // A reader that knows no APNG sees the first frame.
    EXPECT_EQ(QImage::fromData(bytes).convertToFormat(QImage::Format_RGBA8888), frames[0]);
}

}  // namespace
