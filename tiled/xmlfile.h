#pragma once

#include <QString>
#include <QXmlStreamWriter>

#include <functional>

// Writes an XML file of the Tiled map editor's kind (indented by one space) through the
// whole-file write: body writes the root element.
void WriteXmlFile(const QString& path, const std::function<void(QXmlStreamWriter&)>& body);
// The same file's bytes, for a set of files written together.
QByteArray XmlBytes(const std::function<void(QXmlStreamWriter&)>& body);
