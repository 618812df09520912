// The failures of the system's calls: the run-time number users know, the file, and the
// system's own cause where the number folds several into one.
#include "runtime/runtimeerror.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

struct ErrnoCase {
    int errnoValue;
    bool writing;
    std::int32_t number;
    const char* cause;  // "" for none
};

TEST(RuntimeError, ErrnoGivesTheNumberAndTheCauseTheNumberDoesNotTell) {
    const ErrnoCase cases[] = {
        {EACCES, false, Err::PermissionDenied, ""},
        {EROFS, false, Err::PermissionDenied, "read-only file system"},
        {ENOENT, false, Err::FileNotFound, ""},
        {ENOENT, true, Err::FileNotFound, "the folder it goes in does not exist"},
        {EISDIR, true, Err::PathFileAccess, "is a directory"},
        {ENOSPC, true, Err::DiskFull, ""},
        {EFBIG, true, Err::DiskFull, "file too large"},
    };
    for (const ErrnoCase& c : cases) {
        SCOPED_TRACE(c.errnoValue);
        try {
            c.writing ? RaiseWriteErrno(c.errnoValue, "out/0.bmp") : RaiseErrno(c.errnoValue, "out/0.bmp");
            FAIL() << "nothing raised";
        } catch (const RuntimeError& failure) {
            EXPECT_EQ(failure.Number(), c.number);
            EXPECT_EQ(failure.Description(), ErrorDescription(c.number));
            EXPECT_EQ(failure.File(), "out/0.bmp");
            EXPECT_EQ(failure.Cause(), QString::fromUtf8(c.cause));
        }
    }
}

TEST(RuntimeError, TheDeepestStepNamesTheFile) {
    try {
        AboutFile("sheet.png", [] { AboutFile("sheet.png/tile", [] { RaiseError(Err::InvalidPicture); }); });
        FAIL() << "nothing raised";
    } catch (const RuntimeError& failure) {
        EXPECT_EQ(failure.File(), "sheet.png/tile");
    }
    try {
        AboutFile("sheet.png", [] { RaiseError(Err::InvalidPicture); });
        FAIL() << "nothing raised";
    } catch (const RuntimeError& failure) {
        EXPECT_EQ(failure.File(), "sheet.png");
    }
}

}  // namespace
