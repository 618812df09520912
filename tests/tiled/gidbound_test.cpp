// The largest gid is the one below the flag bits, in every reader that takes a first gid.
#include "runtime/runtimeerror.h"
#include "support/testsupport.h"
#include "tiled/tiledfiles.h"

#include <gtest/gtest.h>

namespace {

TEST(GidBound, FirstGidUpToTheBitsBelowTheFlags) {
    struct Case {
        const char* name;
        const char* file;
        const char* text;  // %1: the first gid
    };
    const Case cases[] = {
        {"tmx", "m.tmx",
         "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
         "<tileset firstgid=\"%1\" source=\"t.tsx\"/><layer width=\"1\" height=\"1\"><data encoding=\"csv\">0</data></layer></map>"},
        {"tmj", "m.tmj",
         "{\"orientation\":\"orthogonal\",\"width\":1,\"height\":1,\"tilewidth\":8,\"tileheight\":8,\"infinite\":false,"
         "\"tilesets\":[{\"firstgid\":%1,\"source\":\"t.tsx\"}],"
         "\"layers\":[{\"type\":\"tilelayer\",\"width\":1,\"height\":1,\"data\":[0]}]}"},
        {"template", "m.tmx",
         "<map orientation=\"orthogonal\" width=\"1\" height=\"1\" tilewidth=\"8\" tileheight=\"8\">"
         "<objectgroup><object id=\"1\" template=\"o.tx\"/></objectgroup></map>"},
    };
    for (const Case& c : cases) {
        for (const std::uint32_t firstGid : {0x0FFFFFFFu, 0x10000000u}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(firstGid));
            TestFolder folder;
            WriteBytes(folder.File("t.tsx"), "<tileset name=\"t\" tilewidth=\"8\" tileheight=\"8\" tilecount=\"1\" columns=\"1\">"
                                             "<image source=\"t.png\" width=\"8\" height=\"8\"/></tileset>");
            WriteBytes(folder.File("o.tx"), QStringLiteral("<template><tileset firstgid=\"%1\" source=\"t.tsx\"/>"
                                                           "<object width=\"8\" height=\"8\"/></template>")
                                                .arg(firstGid)
                                                .toUtf8());
            WriteBytes(folder.File(c.file), QString::fromLatin1(c.text).arg(firstGid).toUtf8());
            if (firstGid == 0x0FFFFFFFu) {
                EXPECT_NO_THROW(LoadMap(folder.File(c.file), false));
            } else {
                EXPECT_THROW(LoadMap(folder.File(c.file), false), RuntimeError);
            }
        }
    }
}

}  // namespace
