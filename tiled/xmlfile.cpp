#include "tiled/xmlfile.h"

#include "runtime/wholefile.h"

#include <QBuffer>

void WriteXmlFile(const QString& path, const std::function<void(QXmlStreamWriter&)>& body) {
    const QByteArray bytes = XmlBytes(body);
    WriteWholeFile(path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QByteArray XmlBytes(const std::function<void(QXmlStreamWriter&)>& body) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    body(xml);
    xml.writeEndDocument();
    buffer.close();
    return bytes;
}
