#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

struct XmlNode;

// Children of an element. Freed without recursion, so no tree, however deep, runs the
// stack out when it goes.
struct XmlChildren : std::vector<XmlNode> {
    // Defined below XmlNode: a vector of a type not yet complete may not be made here.
    XmlChildren();
    XmlChildren(std::vector<XmlNode>&& nodes);
    XmlChildren(const XmlChildren&);
    XmlChildren(XmlChildren&&) noexcept;
    XmlChildren& operator=(const XmlChildren&);
    XmlChildren& operator=(XmlChildren&&) noexcept;
    ~XmlChildren();
};

// An XML document as parsed, kept whole so that a file the tool edits comes back with every
// element, attribute (in its order), namespace declaration and prefix, comment and blank it
// had: only what the tool changes differs. Names are kept as written (prefix included).
struct XmlNode {
    enum class Kind { Element, Text, Comment, CData, Instruction, Dtd };
    Kind kind = Kind::Element;
    QString name;  // element name, or the target of a processing instruction
    QString text;  // text, comment, CDATA or instruction content, or the whole DTD
    std::vector<std::pair<QString, QString>> attributes;
    XmlChildren children;
    // Of the root only: what stands before and after it in the document (comments,
    // processing instructions, the DTD and the blanks between them).
    std::vector<XmlNode> before = {};
    std::vector<XmlNode> after = {};

    bool Has(const QString& attribute) const;
    QString Attr(const QString& attribute, const QString& otherwise = QString()) const;
    // Changes the value in place, or appends the attribute where it is new.
    void Set(const QString& attribute, const QString& value);
    void Remove(const QString& attribute);
    // The first child element of that name, or nullptr.
    XmlNode* Child(const QString& element);
    const XmlNode* Child(const QString& element) const;
    // The text of an element: its text and CDATA children joined.
    QString Text() const;
    // Puts an element before the first child named one of before (at the end when none),
    // with the blank that its siblings stand after; returns it.
    XmlNode& Insert(XmlNode element, const std::vector<QString>& before = {});
    // Removes the child elements for which drop says so, with the blank before each.
    template <typename Drop>
    void RemoveChildren(Drop&& drop) {
        std::vector<XmlNode> kept;
        for (XmlNode& child : children) {
            if (child.kind == Kind::Element && drop(child)) {
                if (!kept.empty() && kept.back().kind == Kind::Text && kept.back().text.trimmed().isEmpty()) {
                    kept.pop_back();
                }
                continue;
            }
            kept.push_back(std::move(child));
        }
        children = std::move(kept);
    }
};

inline XmlChildren::XmlChildren() = default;
inline XmlChildren::XmlChildren(std::vector<XmlNode>&& nodes) : std::vector<XmlNode>(std::move(nodes)) {}
inline XmlChildren::XmlChildren(const XmlChildren&) = default;
inline XmlChildren::XmlChildren(XmlChildren&&) noexcept = default;
inline XmlChildren& XmlChildren::operator=(const XmlChildren&) = default;
inline XmlChildren& XmlChildren::operator=(XmlChildren&&) noexcept = default;

// Deepest nesting of elements a document may have; no Tiled file comes near it.
constexpr int XmlDepth = 256;
// Characters that entities may add to a document beyond its own size.
constexpr qsizetype XmlEntityGrowth = qsizetype{1} << 22;

// The root element of a document; 481 naming the file where it is no well-formed XML, is
// nested deeper than XmlDepth or grows past its size and XmlEntityGrowth by its entities.
XmlNode ParseXml(const QString& file, const QByteArray& bytes);

// The document of that root element, with an XML declaration.
QByteArray XmlBytes(const XmlNode& root);
