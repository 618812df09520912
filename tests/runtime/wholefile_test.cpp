#include "support/testsupport.h"

#include "runtime/parallel.h"
#include "runtime/wholefile.h"

#include <gtest/gtest.h>

#include <QFile>

#include <random>
#include <vector>

namespace {

// A file read whole is its bytes, on one thread and where a helper takes half the buffer's
// pages: small, empty, and big files of odd sizes, whose halves meet inside a page.
TEST(ReadWholeFile, GivesEveryByteOnOneThreadOrTwo) {
    const TestFolder folder;
    std::mt19937 random(11);
    const int before = WorkerCount();
    for (const std::size_t size : {std::size_t{0}, std::size_t{1000}, (std::size_t{4} << 20) - 1, (std::size_t{5} << 20) + 3}) {
        std::vector<unsigned char> bytes(size);
        for (unsigned char& byte : bytes) {
            byte = static_cast<unsigned char>(random());
        }
        const QString path = folder.File(QStringLiteral("f%1").arg(size));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(size)), static_cast<qint64>(size));
        file.close();
        for (const int threads : {1, 2}) {
            UseThreads(threads);
            std::vector<unsigned char> read {1, 2, 3};
            ReadWholeFile(path, read);
            EXPECT_TRUE(read == bytes) << size << " bytes on " << threads << " threads";
        }
    }
    UseThreads(before);
}
}  // namespace
