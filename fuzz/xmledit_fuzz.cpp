// Feeds arbitrary bytes to the preserving editor: what reads is edited (an attribute set, an
// element inserted, paths rebased), written and read back. Nothing may crash, every refusal is
// 481 naming the file, the edit reads back, and writing what was read back gives the same bytes.
// sources: tiled/xmltree.cpp tiled/tmxformat.cpp tiled/tmjformat.cpp tiled/tiledvalues.cpp tiled/tiledmodel.cpp tiled/layerdata.cpp tiled/tiledfiles.cpp tiled/tmxedit.cpp tiled/templates.cpp runtime/runtimeerror.cpp runtime/wholefile.cpp runtime/roomyheap.cpp runtime/parallel.cpp runtime/atomicfile.cpp runtime/descriptor.cpp runtime/paths.cpp runtime/destination.cpp
// packages: Qt6Gui zlib libzstd
// options: -max_len=16384

#include "runtime/runtimeerror.h"
#include "tiled/tiledits.h"
#include "tiled/xmltree.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {
const QString File = QStringLiteral("/fuzz/level.tmx");

// Elements in the tree, walked without recursion.
std::size_t elements(const XmlNode& root) {
    std::size_t count = 0;
    std::vector<const XmlNode*> pending{&root};
    while (!pending.empty()) {
        const XmlNode* node = pending.back();
        pending.pop_back();
        ++count;
        for (const XmlNode& child : node->children) {
            if (child.kind == XmlNode::Kind::Element) {
                pending.push_back(&child);
            }
        }
    }
    return count;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    XmlNode root;
    try {
        root = ParseXml(File, bytes);
    } catch (const RuntimeError& failure) {
        if (failure.Number() != Err::InvalidPicture || failure.File() != File || failure.Description().contains(File)) {
            std::abort();
        }
        return 0;
    }
    const std::size_t before = elements(root);
    root.Set(QStringLiteral("tilvex"), QStringLiteral("a<\"&'\n\tb"));
    root.Insert(XmlNode{XmlNode::Kind::Element, QStringLiteral("tileset"), {}, {{QStringLiteral("source"), QStringLiteral("t.tsx")}}, {}},
                {QStringLiteral("layer")});
    RebaseXmlPaths(root, QDir(QStringLiteral("/fuzz")), QDir(QStringLiteral("/fuzz/out")));
    const QByteArray written = XmlBytes(root);
    try {
        const XmlNode back = ParseXml(File, written);
        if (back.name != root.name || back.Attr(QStringLiteral("tilvex")) != root.Attr(QStringLiteral("tilvex")) ||
            elements(back) != before + 1 || back.before.size() != root.before.size() || back.after.size() != root.after.size() ||
            XmlBytes(back) != written) {
            std::abort();
        }
    } catch (const RuntimeError&) {
        // What the editor wrote, it must read.
        std::abort();
    }
    return 0;
}
