#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <vector>

// The cell data of a tile layer as Tiled stores it in a map: "csv" text, or "base64" of
// little-endian gids, raw or compressed ("zlib", "gzip", "zstd"). A layer of the wrong
// length or a stream that does not inflate to exactly its cells gives 481 naming the file.
std::vector<std::uint32_t> DecodeLayerData(const QString& file, QStringView text, const QString& encoding,
                                           const QString& compression, std::size_t cells);

// The text of the data in the same form; csv rows are width cells long, as Tiled writes them.
QString EncodeLayerData(const QString& file, const std::vector<std::uint32_t>& gids, const QString& encoding,
                        const QString& compression, int width);
