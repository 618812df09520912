// The preserving editor's tree: what it keeps, and the documents it refuses.
#include "runtime/runtimeerror.h"
#include "tiled/tiledits.h"
#include "tiled/xmltree.h"

#include <QXmlStreamReader>

#include <gtest/gtest.h>


namespace {
const QString File = QStringLiteral("/game/level.tmx");

TEST(XmlTree, NamespacesPrefixesAndWhatStandsOutsideTheRootComeBack) {
    const char* cases[] = {
        // A namespace declared on the root, used by an element and an attribute.
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map xmlns:ed=\"http://example.org/ed\" ed:rev=\"3\" version=\"1.10\">\n"
        " <ed:meta ed:by=\"me\">kept</ed:meta>\n</map>",
        // A default namespace and one declared below the root.
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset xmlns=\"urn:a\" name=\"x\">\n <x:y xmlns:x=\"urn:b\" x:z=\"1\"/>\n</tileset>",
        // Comments, processing instructions and a DTD before the root; a comment after it.
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE map>\n<!-- made by hand -->\n<?editor keep=\"1\"?>\n"
        "<map version=\"1.10\"><!--in--><![CDATA[a<b]]></map>\n<!-- the end -->\n<?after x?>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        const XmlNode root = ParseXml(File, text);
        EXPECT_EQ(QString::fromUtf8(XmlBytes(root)), QString::fromUtf8(text) + "\n");
        // A deep copy, moved into a path rebase, writes the same.
        XmlNode copy = root;
        RebaseXmlPaths(copy, QDir("/game"), QDir("/game"));
        EXPECT_EQ(XmlBytes(copy), XmlBytes(root));
    }
}

TEST(XmlTree, HostileDocumentsAreRefusedNamingTheFileWithoutExhaustingMemoryOrStack) {
    const QByteArray entity = "<!DOCTYPE map [<!ENTITY e \"" + QByteArray(4000, 'x') + "\">]>";
    const struct {
        const char* what;
        QByteArray bytes;
        const char* says;
    } cases[] = {
        {"400,000 nested elements", "<map>" + QByteArray("<g>").repeated(400000) + QByteArray("</g>").repeated(400000) + "</map>",
         "nested more than"},
        {"one element too deep", QByteArray("<g>").repeated(XmlDepth + 1) + QByteArray("</g>").repeated(XmlDepth + 1), "nested more than"},
        {"an entity used 200,000 times", entity + "<map>" + QByteArray("&e;").repeated(200000) + "</map>", "entities"},
        {"an entity of entities", "<!DOCTYPE map [<!ENTITY e \"" + QByteArray(4000, 'x') + "\"><!ENTITY f \"&e;&e;\">]><map a=\"" +
                                      QByteArray("&f;").repeated(2000) + "\"/>", "entities"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            ParseXml(File, c.bytes);
            ADD_FAILURE() << "read";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), Err::InvalidPicture);
            EXPECT_EQ(e.File(), File);
            EXPECT_TRUE(e.Description().contains(c.says)) << e.Description().toStdString();
        }
    }
    // As deep as allowed, and a few uses of an entity, read, copy, write and free.
    const QByteArray deepest = QByteArray("<g>").repeated(XmlDepth) + QByteArray("</g>").repeated(XmlDepth);
    EXPECT_EQ(XmlBytes(ParseXml(File, deepest)).count("<g"), XmlDepth);
    EXPECT_TRUE(XmlBytes(ParseXml(File, entity + "<map>&e;&e;</map>")).contains(QByteArray(8000, 'x')));
}

// Every text, comment, instruction and attribute in document order, as Qt's reader gives them.
QStringList readerSays(const QByteArray& bytes) {
    QStringList said;
    QXmlStreamReader xml(bytes);
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            said += "<" + xml.qualifiedName().toString();
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                said += a.qualifiedName().toString() + "=" + a.value().toString();
            }
        } else if (xml.isCharacters() || xml.isComment() || xml.isProcessingInstruction()) {
            said += xml.text().toString() + xml.processingInstructionData().toString();
        }
    }
    return said;
}

void treeSays(const XmlNode& node, QStringList& said) {
    if (node.kind != XmlNode::Kind::Element) {
        said += node.text;
        return;
    }
    said += "<" + node.name;
    for (const auto& [key, value] : node.attributes) {
        said += key + "=" + value;
    }
    for (const XmlNode& child : node.children) {
        treeSays(child, said);
    }
}

TEST(XmlTree, LongTextsReadAsTheReaderReadsThemWhereverTheyStand) {
    const QByteArray run = QByteArray("1,22,333,\n4444,").repeated(40);
    const QByteArray cases[] = {
        "<map><data>" + run + "</data><data>" + run + "</data></map>",
        "<map><!--" + run + "--><data>x</data></map>",
        "<map><data><![CDATA[" + run + "]]></data></map>",
        "<map><data a=\"" + run + "\">" + run + "</data></map>",
        "<map><?pi " + run + "?></map>",
        "<!DOCTYPE map [<!ENTITY e \">" + run + "\">]><map>&e;</map>",
        "<map><data>a >" + run + "</data></map>",
        "<map><data>" + run + "&amp;" + run + "</data></map>",
        "<map><data>" + run + "\r\n" + run + "</data></map>",
    };
    for (const QByteArray& text : cases) {
        SCOPED_TRACE(text.left(40).toStdString());
        QStringList said;
        const XmlNode root = ParseXml(File, text);
        treeSays(root, said);
        EXPECT_EQ(said, readerSays(text));
    }
    // A CDATA end in text is an error however long the text.
    EXPECT_THROW(ParseXml(File, "<map>" + run + "]]>" + run + "</map>"), RuntimeError);
}
}  // namespace
