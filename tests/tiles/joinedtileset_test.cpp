#include "tiles/joinedtileset.h"

#include <gtest/gtest.h>

namespace {

QImage plain(int n) {
    QImage tile(2, 2, QImage::Format_RGBA8888);
    tile.fill(QColor(n * 40, 0, 0));
    return tile;
}

const char* const First = R"(<tileset name="first" tilewidth="2" tileheight="2" tilecount="5" columns="5">
 <properties><property name="biome" value="grass"/></properties>
 <image source="a.png" width="10" height="2"/>
 <tile id="1"><animation><frame tileid="3" duration="10"/><frame tileid="0" duration="20"/></animation></tile>
 <wangsets>
  <wangset name="a" type="corner" tile="3">
   <wangcolor name="red" color="#ff0000" tile="2" probability="1"/>
   <wangtile tileid="0" wangid="0,1,0,1,0,1,0,1"/>
   <wangtile tileid="2" wangid="0,1,0,0,0,1,0,0"/>
   <wangtile tileid="3" wangid="0,0,0,1,0,0,0,1"/>
  </wangset>
 </wangsets>
</tileset>)";

const char* const Second = R"(<tileset firstgid="6" name="second" tilewidth="2" tileheight="2" tilecount="2" columns="2">
 <properties><property name="biome" value="sand"/><property name="level" value="2"/></properties>
 <image source="b.png" width="4" height="2"/>
 <tile id="0" probability="0.5">
  <properties><property name="solid" value="true"/></properties>
 </tile>
 <wangsets><wangset name="b" type="edge" tile="-1"><wangtile tileid="1" wangid="1,0,1,0,1,0,1,0"/></wangset></wangsets>
</tileset>)";

std::vector<std::pair<QString, QString>> attributesOf(const XmlNode& parent, const QString& name, const QString& key) {
    std::vector<std::pair<QString, QString>> found;
    for (const XmlNode& child : parent.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == name) {
            found.emplace_back(child.Attr(key), child.Attr("wangid", child.Attr("duration")));
        }
    }
    return found;
}

TEST(JoinedTileset, KeptTilesCarryTheirDataWithIdsRenumbered) {
    const XmlNode first = ParseXml("first.tsx", First);
    const XmlNode second = ParseXml("map.tmx", Second);
    const JoinedTileset joined({&first, &second});

    const struct {
        TileRef ref;
        bool orientable;
        bool metadata;
    } tiles[] = {
        {{0, 0}, false, false},  // a wang tile and a frame
        {{0, 1}, false, true},   // animated
        {{0, 3}, false, false},  // a frame
        {{0, 4}, true, false},
        {{1, 0}, true, true},
        {{1, 1}, false, false},
    };
    for (const auto& t : tiles) {
        EXPECT_EQ(joined.Orientable(t.ref), t.orientable) << t.ref.tileset << ":" << t.ref.id;
        EXPECT_EQ(!joined.Metadata(t.ref).isEmpty(), t.metadata) << t.ref.tileset << ":" << t.ref.id;
    }
    EXPECT_EQ(joined.Frames({0, 1}), (std::vector<TileRef>{{0, 3}, {0, 0}}));

    // In order of use: 0:1 and its frames 0:3 and 0:0; 1:1 looks like 0:0; 1:0 carries data.
    TileCensus census(QSize(2, 2), true);
    census.Use({0, 1}, plain(1), joined.Metadata({0, 1}), false);
    census.Use({0, 3}, plain(3), {}, false);
    census.Use({0, 0}, plain(0), {}, false);
    census.Use({1, 1}, plain(0), {}, false);
    census.Use({1, 0}, plain(5), joined.Metadata({1, 0}), true);
    const XmlNode out = joined.Compose(census, 2, "joined.png", QSize(4, 6));

    EXPECT_EQ(out.Attr("name"), "first");
    EXPECT_EQ(out.Attr("tilecount"), "4");
    EXPECT_EQ(out.Attr("columns"), "2");
    EXPECT_FALSE(out.Has("firstgid"));
    EXPECT_EQ(out.Child("image")->Attr("source"), "joined.png");
    // The first tileset's properties, then the second's that it lacks.
    EXPECT_EQ(attributesOf(*out.Child("properties"), "property", "name"),
              (std::vector<std::pair<QString, QString>>{{"biome", ""}, {"level", ""}}));
    std::vector<const XmlNode*> kept;
    for (const XmlNode& child : out.children) {
        if (child.kind == XmlNode::Kind::Element && child.name == "tile") {
            kept.push_back(&child);
        }
    }
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0]->Attr("id"), "0");
    EXPECT_EQ(attributesOf(*kept[0]->Child("animation"), "frame", "tileid"),
              (std::vector<std::pair<QString, QString>>{{"1", "10"}, {"2", "20"}}));
    EXPECT_EQ(kept[1]->Attr("id"), "3");
    EXPECT_EQ(kept[1]->Attr("probability"), "0.5");

    const XmlNode* sets = out.Child("wangsets");
    ASSERT_NE(sets, nullptr);
    ASSERT_EQ(attributesOf(*sets, "wangset", "name").size(), 2u);
    const XmlNode* setA = nullptr;
    const XmlNode* setB = nullptr;
    for (const XmlNode& child : sets->children) {
        if (child.kind == XmlNode::Kind::Element) {
            (child.Attr("name") == "a" ? setA : setB) = &child;
        }
    }
    ASSERT_TRUE(setA && setB);
    const struct {
        const XmlNode* set;
        const char* tile;
        std::vector<std::pair<QString, QString>> wangTiles;
    } expected[] = {
        // 0:2 is used by nothing: its wang tile goes, and the colour that showed it has none.
        {setA, "1", {{"2", "0,1,0,1,0,1,0,1"}, {"1", "0,0,0,1,0,0,0,1"}}},
        {setB, "-1", {{"2", "1,0,1,0,1,0,1,0"}}},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(e.set->Attr("tile"), e.tile) << e.set->Attr("name").toStdString();
        EXPECT_EQ(attributesOf(*e.set, "wangtile", "tileid"), e.wangTiles) << e.set->Attr("name").toStdString();
    }
    EXPECT_EQ(setA->Child("wangcolor")->Attr("tile"), "-1");
}

}  // namespace
