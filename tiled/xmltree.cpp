#include "tiled/xmltree.h"

#include "runtime/runtimeerror.h"

#include <QBuffer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <array>
#include <optional>

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
    for (std::size_t k = 0; k < children.size() && !before.empty(); ++k) {
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

XmlChildren::~XmlChildren() {
    // Grandchildren are moved out to a list and freed one by one, each with no children left.
    std::vector<XmlNode> pending;
    const auto takeChildren = [&](XmlNode& node) {
        for (XmlNode& child : node.children) {
            pending.push_back(std::move(child));
        }
        node.children.clear();
    };
    for (XmlNode& child : *this) {
        takeChildren(child);
    }
    while (!pending.empty()) {
        XmlNode node = std::move(pending.back());
        pending.pop_back();
        takeChildren(node);
    }
}

namespace {
// Characters that the references to the document's own entities may add: the reader joins
// text into one piece before it reports it, so this is found before reading, from the DTD.
qsizetype entityGrowth(const QByteArray& bytes) {
    QXmlStreamReader prolog(bytes);
    while (!prolog.atEnd()) {
        const QXmlStreamReader::TokenType token = prolog.readNext();
        if (token == QXmlStreamReader::StartElement || token == QXmlStreamReader::Invalid) {
            return 0;
        }
        if (token != QXmlStreamReader::DTD) {
            continue;
        }
        qsizetype growth = 0;
        for (const QXmlStreamEntityDeclaration& entity : prolog.entityDeclarations()) {
            // An entity within an entity grows up to the reader's own bound on each.
            const qsizetype each = entity.value().contains(u'&') ? std::max<qsizetype>(prolog.entityExpansionLimit(), entity.value().size())
                                                                  : entity.value().size();
            growth += bytes.count(QByteArray("&") + entity.name().toUtf8() + ';') * each;
            if (growth > XmlEntityGrowth) {
                return growth;
            }
        }
        return growth;
    }
    return 0;
}

// Long runs of plain text between tags (a big layer's cells) are lifted out before the reader
// sees them and put back as read: it copies text a character at a time, most of a big map's
// load. A run is plain where its bytes read alike in every way the document may be decoded
// and no reference, line end or CDATA end can change them; it is put back only where the reader
// reports its mark as a whole text, and otherwise the document is read again as it is.
struct Lifted {
    QByteArray bytes;  // the document with a mark in place of each run
    std::vector<QByteArrayView> runs;  // in the document read
};

const QByteArray LiftMark = QByteArrayLiteral("\x7ftilvex ");
constexpr qsizetype LiftedRun = 256;

constexpr std::array<unsigned char, 256> PlainBytes = [] {
    std::array<unsigned char, 256> table{};
    for (unsigned u = 0; u < 256; ++u) {
        table[u] = (u >= 0x20 && u < 0x7f && u != '<' && u != '&' && u != ']') || u == '\n' || u == '\t';
    }
    return table;
}();

// Without early exits: a run is nearly always plain to its end.
bool plain(const char* from, const char* to) {
    unsigned char all = 1;
    for (const char* c = from; c != to; ++c) {
        all &= PlainBytes[static_cast<unsigned char>(*c)];
    }
    return all != 0;
}

// Whether the document is UTF-8 (or ASCII), whose plain bytes are their own characters.
bool utf8(const QByteArray& bytes) {
    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (bytes.mid(start, 5) != "<?xml") {
        return bytes.size() > start && bytes[start] == '<';
    }
    const QByteArray declaration = bytes.mid(start, bytes.indexOf("?>", start) - start);
    const qsizetype at = declaration.indexOf("encoding");
    if (at < 0) {
        return true;
    }
    const QByteArray rest = declaration.mid(at + 8).trimmed();
    if (!rest.startsWith('=')) {
        return false;
    }
    const QByteArray quoted = rest.mid(1).trimmed();
    return quoted.size() > 6 && (quoted[0] == '"' || quoted[0] == '\'') && quoted[6] == quoted[0] && quoted.mid(1, 5).toLower() == "utf-8";
}

Lifted lift(const QByteArray& bytes) {
    Lifted out;
    if (bytes.size() < LiftedRun || !utf8(bytes) || bytes.contains(LiftMark)) {
        return out;
    }
    const char* const data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype copied = 0;
    for (qsizetype from = bytes.indexOf('>') + 1; from > 0; from = bytes.indexOf('>', from) + 1) {
        const qsizetype end = bytes.indexOf('<', from);
        if (end < 0) {
            break;
        }
        if (end - from >= LiftedRun && plain(data + from, data + end)) {
            out.bytes.append(data + copied, from - copied).append(LiftMark).append(QByteArray::number(out.runs.size())).append('\x7f');
            out.runs.emplace_back(data + from, end - from);
            copied = end;
        }
        from = end;
    }
    if (!out.runs.empty()) {
        out.bytes.append(data + copied, size - copied);
    }
    return out;
}

// The document read, with the lifted runs (where given) put back; nothing where a mark was
// not met as a whole text.
std::optional<XmlNode> parse(const QString& file, const QByteArray& bytes, const std::vector<QByteArrayView>* runs) {
    QXmlStreamReader xml(bytes);
    // Names and xmlns declarations are kept as written, so they come back as they were.
    xml.setNamespaceProcessing(false);
    std::vector<XmlNode> open;
    XmlNode root;
    bool haveRoot = false;
    std::size_t restored = 0;
    // Everything read counts, so entities cannot grow the document past its bound.
    qsizetype read = 0;
    const qsizetype most = bytes.size() + XmlEntityGrowth;
    const auto refuse = [&](const QString& reason) { throw RuntimeError(Err::InvalidPicture, reason, file); };
    const auto count = [&](qsizetype characters) {
        read += characters;
        if (read > most) {
            refuse(QStringLiteral("its entities expand it past %1 characters").arg(most));
        }
    };
    const auto place = [&](XmlNode node) {
        if (!open.empty()) {
            open.back().children.push_back(std::move(node));
        } else {
            (haveRoot ? root.after : root.before).push_back(std::move(node));
        }
    };
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            if (open.size() >= static_cast<std::size_t>(XmlDepth)) {
                refuse(QStringLiteral("elements nested more than %1 deep").arg(XmlDepth));
            }
            XmlNode node;
            node.name = xml.qualifiedName().toString();
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                count(a.value().size());
                node.attributes.emplace_back(a.qualifiedName().toString(), a.value().toString());
            }
            open.push_back(std::move(node));
            break;
        }
        case QXmlStreamReader::EndElement: {
            XmlNode done = std::move(open.back());
            open.pop_back();
            if (open.empty()) {
                done.before = std::move(root.before);
                root = std::move(done);
                haveRoot = true;
            } else {
                open.back().children.push_back(std::move(done));
            }
            break;
        }
        case QXmlStreamReader::Characters: {
            QString text = xml.text().toString();
            if (runs != nullptr && text.contains(QChar(0x7f))) {
                bool whole = false;
                const qsizetype k = text.startsWith(QLatin1StringView(LiftMark)) && text.endsWith(QChar(0x7f)) && !xml.isCDATA()
                                        ? text.mid(LiftMark.size(), text.size() - LiftMark.size() - 1).toLongLong(&whole)
                                        : -1;
                if (!whole || k < 0 || k >= static_cast<qsizetype>(runs->size())) {
                    return std::nullopt;
                }
                text = QString::fromLatin1((*runs)[static_cast<std::size_t>(k)]);
                ++restored;
            }
            count(text.size());
            place(XmlNode{xml.isCDATA() ? XmlNode::Kind::CData : XmlNode::Kind::Text, {}, std::move(text), {}, {}});
            break;
        }
        case QXmlStreamReader::Comment:
            place(XmlNode{XmlNode::Kind::Comment, {}, xml.text().toString(), {}, {}});
            break;
        case QXmlStreamReader::ProcessingInstruction:
            place(XmlNode{XmlNode::Kind::Instruction, xml.processingInstructionTarget().toString(),
                          xml.processingInstructionData().toString(), {}, {}});
            break;
        case QXmlStreamReader::DTD:
            place(XmlNode{XmlNode::Kind::Dtd, {}, xml.text().toString().trimmed(), {}, {}});
            break;
        default:
            break;
        }
    }
    if (runs != nullptr && (xml.hasError() || !haveRoot || restored != runs->size())) {
        return std::nullopt;
    }
    if (xml.hasError() || !haveRoot) {
        refuse(xml.hasError() ? xml.errorString() : QStringLiteral("no XML element"));
    }
    return root;
}
}  // namespace

XmlNode ParseXml(const QString& file, const QByteArray& bytes) {
    if (entityGrowth(bytes) > XmlEntityGrowth) {
        throw RuntimeError(Err::InvalidPicture, QStringLiteral("its entities expand it by more than %1 characters").arg(XmlEntityGrowth), file);
    }
    if (const Lifted lifted = lift(bytes); !lifted.runs.empty()) {
        try {
            if (std::optional<XmlNode> root = parse(file, lifted.bytes, &lifted.runs)) {
                return std::move(*root);
            }
        } catch (const RuntimeError&) {
            // Read again as it is, for the reason the document itself gives.
        }
    }
    return *parse(file, bytes, nullptr);
}

namespace {
void writeLeaf(QXmlStreamWriter& xml, const XmlNode& node) {
    switch (node.kind) {
    case XmlNode::Kind::Text: xml.writeCharacters(node.text); return;
    case XmlNode::Kind::CData: xml.writeCDATA(node.text); return;
    case XmlNode::Kind::Comment: xml.writeComment(node.text); return;
    case XmlNode::Kind::Instruction: xml.writeProcessingInstruction(node.name, node.text); return;
    case XmlNode::Kind::Dtd: xml.writeDTD(node.text); return;
    case XmlNode::Kind::Element: return;
    }
}

// Depth first with a list of open elements rather than recursion.
void writeElement(QXmlStreamWriter& xml, const XmlNode& top) {
    std::vector<std::pair<const XmlNode*, std::size_t>> open{{&top, 0}};
    xml.writeStartElement(top.name);
    for (const auto& [key, value] : top.attributes) {
        xml.writeAttribute(key, value);
    }
    while (!open.empty()) {
        auto& [node, next] = open.back();
        if (next == node->children.size()) {
            xml.writeEndElement();
            open.pop_back();
            continue;
        }
        const XmlNode& child = node->children[next++];
        if (child.kind != XmlNode::Kind::Element) {
            writeLeaf(xml, child);
            continue;
        }
        xml.writeStartElement(child.name);
        for (const auto& [key, value] : child.attributes) {
            xml.writeAttribute(key, value);
        }
        open.emplace_back(&child, 0);
    }
}
}  // namespace

QByteArray XmlBytes(const XmlNode& root) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.writeStartDocument();
    // The reader reports no blanks outside the root: each node there stands on its own line.
    xml.writeCharacters(QStringLiteral("\n"));
    for (const XmlNode& node : root.before) {
        writeLeaf(xml, node);
        xml.writeCharacters(QStringLiteral("\n"));
    }
    writeElement(xml, root);
    for (const XmlNode& node : root.after) {
        xml.writeCharacters(QStringLiteral("\n"));
        writeLeaf(xml, node);
    }
    xml.writeEndDocument();
    buffer.close();
    return bytes;
}
