#include "runtime/paths.h"
#include "runtime/userfolders.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace {

// Home and the XDG folders inside the test folder, so nothing reaches the real home.
struct UserHome {
    explicit UserHome(const TestFolder& folder)
        : home("HOME", folder.File("home")), state("XDG_STATE_HOME", folder.File("state")),
          config("XDG_CONFIG_HOME", folder.File("config")) {
        QDir().mkpath(folder.File("home"));
    }
    ScopedEnv home, state, config;
};

TEST(UserFolders, PortableAndInstalledProgramFolders) {
    struct Case {
        const char* name;
        bool installed;
        QByteArray iniBeside;
        bool pictures;
        const char* logFolder;
        const char* infoFile;
        const char* startFolder;
    };
    const Case cases[] = {
        {"writable folder keeps everything beside the program", false, "", true, "prog", "prog/info.ini", "prog"},
        {"installed, info.ini beside it", true, "[MAIN]\r\nWidth=5\r\n", true, "state/tilvex", "prog/info.ini",
         "home/Pictures"},
        {"installed, no info.ini beside it", true, "", true, "state/tilvex", "config/tilvex/info.ini",
         "home/Pictures"},
        {"installed, no Pictures folder", true, "", false, "state/tilvex", "config/tilvex/info.ini", "home"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder folder;
        UserHome user(folder);
        if (c.pictures) {
            ASSERT_TRUE(QDir().mkpath(folder.File("home/Pictures")));
        }
        const QString prog = folder.File("prog");
        ASSERT_TRUE(QDir().mkpath(prog));
        std::optional<ReadOnlyFolder> locked;
        if (c.installed) {
            locked.emplace(prog, c.iniBeside);
            if (!locked->Available()) {
                GTEST_SKIP() << "no folder can be made unwritable here";
            }
        }
        SetProgramFolder(prog);
        EXPECT_EQ(ProgramFolderIsInstalled(), c.installed);
        EXPECT_EQ(StartupInfoFile(), folder.File(c.infoFile));
        EXPECT_EQ(StartFolder(), folder.File(c.startFolder));
        // The state folder appears only once the log asks for it.
        EXPECT_FALSE(QFileInfo::exists(folder.File("state")));
        EXPECT_EQ(ErrorLogFolder(), folder.File(c.logFolder));
        EXPECT_TRUE(QFileInfo(folder.File(c.logFolder)).isDir());
    }
}

TEST(UserFolders, RelativeXdgFoldersAreIgnored) {
    TestFolder folder;
    UserHome user(folder);
    const ScopedEnv state("XDG_STATE_HOME", "relative/state");
    const ReadOnlyFolder prog(folder.File("prog"), "");
    if (!prog.Available()) {
        GTEST_SKIP() << "no folder can be made unwritable here";
    }
    SetProgramFolder(folder.File("prog"));
    EXPECT_EQ(ErrorLogFolder(), folder.File("home/.local/state/tilvex"));
}

}  // namespace
