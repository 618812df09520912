#include "runtime/atomicfile.h"
#include "runtime/destination.h"
#include "runtime/paths.h"
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What stands under the target's name before a whole-file write over it.
enum class Before { Nothing, File, LinkToFile, DanglingLink, Fifo, Socket, Folder };

void make(Before kind, const TestFolder& folder, const QString& target) {
    const std::string path = ToFsPath(target).native();
    switch (kind) {
    case Before::Nothing: break;
    case Before::File: WriteBytes(target, "old"); break;
    case Before::LinkToFile:
        WriteBytes(folder.File("outside"), "old");
        ASSERT_EQ(::symlink("outside", path.c_str()), 0);
        break;
    case Before::DanglingLink: ASSERT_EQ(::symlink("nowhere", path.c_str()), 0); break;
    case Before::Fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); break;
    case Before::Socket: {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
        break;
    }
    case Before::Folder: ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); break;
    }
}

// A tile in a folder replaces a link rather than writing through it; nothing but a file or a
// link is ever replaced.
TEST(AtomicFile, ReplacesFilesAndLinksOnly) {
    const struct {
        Before before;
        bool replaced;
        int failure;
    } cases[] = {
        {Before::Nothing, true, 0},       {Before::File, true, 0},       {Before::LinkToFile, true, 0},
        {Before::DanglingLink, true, 0},  {Before::Fifo, false, ENXIO},  {Before::Socket, false, ENXIO},
        {Before::Folder, false, EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.before));
        const TestFolder folder;
        const QString target = folder.File("t.png");
        make(c.before, folder, target);
        AtomicFile file;
        ASSERT_TRUE(file.Open(ToFsPath(target)));
        ASSERT_EQ(::write(file.Fd(), "new", 3), 3);
        const bool committed = file.Commit();
        const int failure = committed ? 0 : errno;
        EXPECT_EQ(committed, c.replaced);
        EXPECT_EQ(failure, c.failure);
        const QFileInfo after(target);
        EXPECT_EQ(after.isFile() && !after.isSymLink(), c.replaced);
        if (c.replaced) {
            EXPECT_EQ(ReadBytes(target), "new");
        }
        if (c.before == Before::LinkToFile) {
            EXPECT_EQ(ReadBytes(folder.File("outside")), "old");
        }
    }
}

TEST(Destination, LinkTargetFollowsEveryLinkOfTheName) {
    const TestFolder folder;
    ASSERT_EQ(::mkdir(ToFsPath(folder.File("real")).c_str(), 0755), 0);
    WriteBytes(folder.File("real/map.tmx"), "<map/>");
    ASSERT_EQ(::symlink("real/map.tmx", ToFsPath(folder.File("one.tmx")).c_str()), 0);
    ASSERT_EQ(::symlink(ToFsPath(folder.File("one.tmx")).c_str(), ToFsPath(folder.File("two.tmx")).c_str()), 0);
    ASSERT_EQ(::symlink("real/new.tmx", ToFsPath(folder.File("dangling.tmx")).c_str()), 0);
    const struct {
        const char* name;
        const char* target;
    } cases[] = {
        {"real/map.tmx", "real/map.tmx"},
        {"one.tmx", "real/map.tmx"},
        {"two.tmx", "real/map.tmx"},
        {"dangling.tmx", "real/new.tmx"},
        {"missing.tmx", "missing.tmx"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LinkTarget(folder.File(c.name)), folder.File(c.target)) << c.name;
    }
}

TEST(Destination, RefusesWhatWouldLoseAnInputOrFeedADevice) {
    const TestFolder folder;
    WriteBytes(folder.File("map.tmx"), "<map/>");
    WriteBytes(folder.File("0.png"), "tile");
    ASSERT_EQ(::link(ToFsPath(folder.File("0.png")).c_str(), ToFsPath(folder.File("hard.png")).c_str()), 0);
    ASSERT_EQ(::symlink("map.tmx", ToFsPath(folder.File("soft.png")).c_str()), 0);
    const QStringList inputs{folder.File("map.tmx"), folder.File("0.png")};
    const struct {
        const char* destination;
        bool refused;
    } cases[] = {
        {"map.tmx", true}, {"0.png", true}, {"hard.png", true}, {"soft.png", true}, {"other.png", false},
    };
    for (const auto& c : cases) {
        bool refused = false;
        try {
            RefuseInputsAsDestinations({folder.File(c.destination)}, inputs);
        } catch (const RuntimeError& failure) {
            // The file leads the failure; the reason, printed after the description, names it again.
            refused = failure.Number() == Err::PathFileAccess && failure.File() == folder.File(c.destination) &&
                      failure.Description() == ErrorDescription(Err::PathFileAccess) &&
                      failure.Cause().contains(folder.File(c.destination));
        }
        EXPECT_EQ(refused, c.refused) << c.destination;
    }
    EXPECT_THROW(RefuseSpecialFile("/dev/null"), RuntimeError);
    EXPECT_THROW(RefuseSpecialFile(folder.Path()), RuntimeError);
    EXPECT_NO_THROW(RefuseSpecialFile(folder.File("map.tmx")));
    EXPECT_NO_THROW(RefuseSpecialFile(folder.File("missing.png")));
}

}  // namespace
