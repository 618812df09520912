#include "runtime/folderwriter.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <string>
#include <vector>

namespace {

struct Outcome {
    int failure = 0;
    QStringList entries;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// Writes the files 0.bin, 1.bin, ... as a run does, stopping at the first failure raised.
Outcome WriteFiles(const QString& folder, bool helper, int count) {
    Outcome outcome;
    try {
        FolderWriter writer(folder, helper ? 2 : 0);
        for (int i = 0; i < count; ++i) {
            writer.Write(std::to_string(i) + ".bin", std::vector<unsigned char>(3126, static_cast<unsigned char>(i)));
        }
        writer.Finish();
    } catch (const RuntimeError& failure) {
        outcome.failure = failure.Number();
    }
    outcome.entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    return outcome;
}

QStringList Names(int count) {
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << QString::number(i) + ".bin";
    }
    names.sort();
    return names;
}

// With a helper thread the files, their order of failure and the error are those of one
// thread, also when the helper has filled many files past the one that fails.
TEST(FolderWriter, HelperEndsAsOneThreadDoes) {
    TestFolder folder;
    SmallDisk disk(folder.File("disk"), "256k");
    struct Case {
        const char* name;
        QString base;
        int blockedAt;  // a folder under that file's name, or -1
        int expectedFailure;
    } cases[] = {
        {"all written", folder.File("plain"), -1, 0},
        {"folder under a name", folder.File("blocked"), 120, Err::PathFileAccess},
        {"disk full", folder.File("disk"), -1, Err::DiskFull},
    };
    for (const Case& c : cases) {
        if (c.expectedFailure == Err::DiskFull && !disk.Mounted()) {
            std::fprintf(stderr, "skipped %s: mounting a tmpfs is not allowed here\n", c.name);
            continue;
        }
        Outcome outcomes[2];
        for (const bool helper : {false, true}) {
            const QString base = c.base + (helper ? "/helper" : "/alone");
            ASSERT_TRUE(QDir().mkpath(base)) << c.name;
            if (c.blockedAt >= 0) {
                ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("/%1.bin").arg(c.blockedAt))) << c.name;
            }
            outcomes[helper] = WriteFiles(base, helper, 200);
            EXPECT_EQ(outcomes[helper].failure, c.expectedFailure) << c.name << (helper ? " helper" : "");
            // A half-full disk for the second run as for the first.
            if (!helper && c.expectedFailure == Err::DiskFull) {
                ASSERT_TRUE(QDir(base).removeRecursively()) << c.name;
            }
        }
        EXPECT_EQ(outcomes[1], outcomes[0]) << c.name;
        if (c.expectedFailure == Err::DiskFull) {
            EXPECT_EQ(outcomes[0].entries, Names(outcomes[0].entries.size())) << c.name;
        } else {
            EXPECT_EQ(outcomes[0].entries, Names(c.blockedAt >= 0 ? c.blockedAt + 1 : 200)) << c.name;
        }
    }
}

}  // namespace
