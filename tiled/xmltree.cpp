#include "tiled/xmltree.h"

#include "runtime/runtimeerror.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

bool XmlNode::Has(const QString& attribute) const {
    for (const auto& [key, value] : attributes) {
        if (key == attribute) {
            return true;
        }
    }
    return false;
}

QString XmlNode::Attr(const QString& attribute, const QString& otherwise) const {
    for (const auto& [key, value] : attributes) {
        if (key == attribute) {
            return value;
        }
    }
    return otherwise;
}

void XmlNode::Set(const QString& attribute, const QString& value) {
    for (auto& [key, old] : attributes) {
        if (key == attribute) {
            old = value;
            return;
        }
    }
    attributes.emplace_back(attribute, value);
}

void XmlNode::Remove(const QString& attribute) {
    std::erase_if(attributes, [&](const auto& pair) { return pair.first == attribute; });
}

XmlNode* XmlNode::Child(const QString& element) {
    for (XmlNode& child : children) {
        if (child.kind == Kind::Element && child.name == element) {
            return &child;
        }
    }
    return nullptr;
}

const XmlNode* XmlNode::Child(const QString& element) const { return const_cast<XmlNode*>(this)->Child(element); }

QString XmlNode::Text() const {
    QString all;
    for (const XmlNode& child : children) {
        if (child.kind == Kind::Text || child.kind == Kind::CData) {
            all += child.text;
        }
    }
    return all;
}

XmlNode& XmlNode::Insert(XmlNode element, const std::vector<QString>& before) {
    // Siblings stand after the blank before the first child element; a newline and a space
    // where there is none.
    QString blank = QStringLiteral("\n ");
    for (std::size_t k = 0; k + 1 < children.size(); ++k) {
        if (children[k].kind == Kind::Text && children[k + 1].kind == Kind::Element) {
            blank = children[k].text;
            break;
        }
    }
    const XmlNode space{Kind::Text, {}, blank, {}, {}};
    std::size_t at = children.size();
    for (std::size_t k = 0; k < children.size(); ++k) {
        if (children[k].kind == Kind::Element && std::find(before.begin(), before.end(), children[k].name) != before.end()) {
            at = k;
            break;
        }
    }
    const auto position = [&](std::size_t k) { return children.begin() + static_cast<std::ptrdiff_t>(k); };
    if (at < children.size()) {
        children.insert(position(at), space);
        children.insert(position(at), std::move(element));
        return children[at];
    }
    // After the last element, before the blank that closes the parent.
    if (children.empty() || children.back().kind != Kind::Text || !children.back().text.trimmed().isEmpty()) {
        children.push_back(XmlNode{Kind::Text, {}, blank.left(blank.size() - 1), {}, {}});
    }
    at = children.size() - 1;
    children.insert(position(at), std::move(element));
    children.insert(position(at), space);
    return children[at + 1];
}

XmlNode ParseXml(const QString& file, const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    std::vector<XmlNode> open;
    XmlNode root;
    bool haveRoot = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (open.empty() && haveRoot) {
                break;
            }
            XmlNode node;
            node.name = xml.name().toString();
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                node.attributes.emplace_back(a.qualifiedName().toString(), a.value().toString());
            }
            open.push_back(std::move(node));
            break;
        }
        case QXmlStreamReader::EndElement: {
            XmlNode done = std::move(open.back());
            open.pop_back();
            if (open.empty()) {
                root = std::move(done);
                haveRoot = true;
            } else {
                open.back().children.push_back(std::move(done));
            }
            break;
        }
        case QXmlStreamReader::Characters:
            if (!open.empty()) {
                open.back().children.push_back(
                    XmlNode{xml.isCDATA() ? XmlNode::Kind::CData : XmlNode::Kind::Text, {}, xml.text().toString(), {}, {}});
            }
            break;
        case QXmlStreamReader::Comment:
            if (!open.empty()) {
                open.back().children.push_back(XmlNode{XmlNode::Kind::Comment, {}, xml.text().toString(), {}, {}});
            }
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !haveRoot) {
        throw RuntimeError(Err::InvalidPicture, xml.hasError() ? xml.errorString() : QStringLiteral("no XML element"), file);
    }
    return root;
}

namespace {
void writeNode(QXmlStreamWriter& xml, const XmlNode& node) {
    switch (node.kind) {
    case XmlNode::Kind::Text: xml.writeCharacters(node.text); return;
    case XmlNode::Kind::CData: xml.writeCDATA(node.text); return;
    case XmlNode::Kind::Comment: xml.writeComment(node.text); return;
    case XmlNode::Kind::Element: break;
    }
    xml.writeStartElement(node.name);
    for (const auto& [key, value] : node.attributes) {
        xml.writeAttribute(key, value);
    }
    for (const XmlNode& child : node.children) {
        writeNode(xml, child);
    }
    xml.writeEndElement();
}
}  // namespace

QByteArray XmlBytes(const XmlNode& root) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.writeStartDocument();
    xml.writeCharacters(QStringLiteral("\n"));
    writeNode(xml, root);
    xml.writeEndDocument();
    buffer.close();
    return bytes;
}
