#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

// An XML document as parsed, kept whole so that a file the tool edits comes back with every
// element, attribute (in its order), comment and blank it had: only what the tool changes
// differs.
struct XmlNode {
    enum class Kind { Element, Text, Comment, CData };
    Kind kind = Kind::Element;
    QString name;  // element name
    QString text;  // text, comment or CDATA content
    std::vector<std::pair<QString, QString>> attributes;
    std::vector<XmlNode> children;

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

// The root element of a document; 481 naming the file where it is no well-formed XML.
XmlNode ParseXml(const QString& file, const QByteArray& bytes);

// The document of that root element, with an XML declaration.
QByteArray XmlBytes(const XmlNode& root);
