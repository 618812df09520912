#include "tiled/layerdata.h"

#include "runtime/runtimeerror.h"

#include <QByteArray>

#include <zlib.h>
#include <zstd.h>

#include <limits>

namespace {
[[noreturn]] void invalid(const QString& file, const QString& reason) {
    throw RuntimeError(Err::InvalidPicture, reason, file);
}

// What a packed stream that does not give exactly size bytes has wrong, "" where it does.
QString sizeProblem(std::size_t produced, std::size_t size) {
    if (produced == size) {
        return QString();
    }
    return produced > size ? QStringLiteral("holds more than the %1 bytes of its cells").arg(size)
                           : QStringLiteral("holds %1 bytes, not the %2 of its cells").arg(produced).arg(size);
}

// Inflates a zlib (or, with gzip, a gzip) stream into exactly size bytes; a longer stream
// stops at size + 1, so a small file never makes a large buffer. Returns what is wrong, "" for nothing.
QString inflateTo(const QByteArray& packed, bool gzip, std::vector<unsigned char>& out, std::size_t size) {
    out.assign(size + 1, 0);
    z_stream stream{};
    if (inflateInit2(&stream, gzip ? 15 + 16 : 15) != Z_OK) {
        return QStringLiteral("cannot be unpacked (out of memory)");
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const std::size_t produced = out.size() - stream.avail_out;
    // zlib's own words: "incorrect data check" (Adler-32 or CRC-32), "incorrect length check", ...
    const QString why = stream.msg != nullptr ? QString::fromLatin1(stream.msg) : QString();
    const bool left = stream.avail_in > 0;
    inflateEnd(&stream);
    out.resize(produced);
    if (status == Z_DATA_ERROR) {
        return QStringLiteral("is damaged (%1)").arg(why.isEmpty() ? QStringLiteral("not a %1 stream").arg(gzip ? "gzip" : "zlib") : why);
    }
    if (status != Z_STREAM_END && produced <= size && !left) {
        return QStringLiteral("is cut short: its stream ends after %1 of the %2 bytes of its cells").arg(produced).arg(size);
    }
    return sizeProblem(produced, size);
}

QString zstdTo(const QByteArray& packed, std::vector<unsigned char>& out, std::size_t size) {
    out.assign(size + 1, 0);
    ZSTD_DStream* stream = ZSTD_createDStream();
    if (stream == nullptr) {
        return QStringLiteral("cannot be unpacked (out of memory)");
    }
    ZSTD_inBuffer in{packed.constData(), static_cast<std::size_t>(packed.size()), 0};
    ZSTD_outBuffer to{out.data(), out.size(), 0};
    std::size_t status = 1;
    while (in.pos < in.size && to.pos < to.size) {
        status = ZSTD_decompressStream(stream, &to, &in);
        if (ZSTD_isError(status)) {
            break;
        }
    }
    ZSTD_freeDStream(stream);
    out.resize(to.pos);
    if (ZSTD_isError(status)) {
        return QStringLiteral("is damaged (%1)").arg(QString::fromLatin1(ZSTD_getErrorName(status)));
    }
    if (status != 0 && to.pos <= size) {
        return QStringLiteral("is cut short: its zstd frame ends after %1 of the %2 bytes of its cells").arg(to.pos).arg(size);
    }
    if (status == 0 && in.pos < in.size && to.pos == size) {
        return QStringLiteral("has bytes after the end of its frame");
    }
    return sizeProblem(to.pos, size);
}

QByteArray deflated(const QString& file, const QByteArray& raw, bool gzip) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, gzip ? 15 + 16 : 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        RaiseError(Err::OutOfMemory);
    }
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(raw.size())) + 32), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.constData()));
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        invalid(file, QStringLiteral("the layer data did not compress"));
    }
    return out;
}
}  // namespace

std::vector<std::uint32_t> DecodeLayerData(const QString& file, QStringView text, const QString& encoding,
                                           const QString& compression, std::size_t cells) {
    std::vector<std::uint32_t> gids;
    if (encoding == u"csv") {
        if (!compression.isEmpty()) {
            invalid(file, QStringLiteral("CSV layer data is never compressed"));
        }
        gids.reserve(std::min<std::size_t>(cells, static_cast<std::size_t>(text.size() / 2 + 1)));
        const char16_t* const chars = text.utf16();
        const qsizetype size = text.size();
        const auto blank = [&](qsizetype k) {
            // Most characters are digits and commas, above a blank: one comparison for them.
            return k < size && chars[k] <= u' ' && (chars[k] == u' ' || chars[k] == u'\n' || chars[k] == u'\r' || chars[k] == u'\t');
        };
        qsizetype from = 0;
        while (from <= size) {
            // Plain digits between blanks, as maps hold them, read in one pass: the general
            // reading below took most of a big map's load.
            qsizetype k = from;
            while (blank(k)) {
                ++k;
            }
            const qsizetype first = k;
            std::uint64_t gid = 0;
            const qsizetype stop = std::min(size, first + 11);
            for (unsigned digit = 0; k < stop && (digit = static_cast<unsigned>(chars[k]) - u'0') < 10; ++k) {
                gid = gid * 10 + digit;
            }
            const qsizetype digits = k - first;
            while (blank(k)) {
                ++k;
            }
            qsizetype to = k;
            bool ok = digits > 0 && digits <= 10 && (k == size || chars[k] == u',');
            if (!ok) {
                to = text.indexOf(u',', from);
                if (to < 0) {
                    to = size;
                }
                const QStringView item = text.mid(from, to - from).trimmed();
                gid = item.toULongLong(&ok);
                if (!ok || gid > std::numeric_limits<std::uint32_t>::max()) {
                    invalid(file, QStringLiteral("\"%1\" is no tile gid").arg(item.left(20)));
                }
            }
            if (gid > std::numeric_limits<std::uint32_t>::max()) {
                invalid(file, QStringLiteral("\"%1\" is no tile gid").arg(text.mid(first, digits)));
            }
            if (gids.size() == cells) {
                invalid(file, QStringLiteral("the layer holds more than its %1 cells").arg(cells));
            }
            gids.push_back(static_cast<std::uint32_t>(gid));
            from = to + 1;
        }
    } else if (encoding == u"base64") {
        // Latin-1 without the spaces and line breaks editors put around the letters, in one
        // pass: a replace a character took a tenth of a big map's load.
        QByteArray letters(text.size(), Qt::Uninitialized);
        qsizetype kept = 0;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u != u' ' && u != u'\n' && u != u'\r' && u != u'\t') {
                letters.data()[kept++] = u < 256 ? static_cast<char>(u) : '?';
            }
        }
        letters.truncate(kept);
        const auto result = QByteArray::fromBase64Encoding(letters, QByteArray::AbortOnBase64DecodingErrors);
        const QByteArray& decoded = result.decoded;
        if (!result) {
            invalid(file, QStringLiteral("the layer data is no base64"));
        }
        std::vector<unsigned char> raw;
        const std::size_t bytes = cells * 4;
        QString problem;
        if (compression.isEmpty()) {
            raw.assign(decoded.begin(), decoded.end());
            problem = sizeProblem(raw.size(), bytes);
        } else if (compression == u"zlib" || compression == u"gzip") {
            problem = inflateTo(decoded, compression == u"gzip", raw, bytes);
        } else if (compression == u"zstd") {
            problem = zstdTo(decoded, raw, bytes);
        } else {
            invalid(file, QStringLiteral("layer data compression \"%1\" is not known").arg(compression));
        }
        if (!problem.isEmpty()) {
            invalid(file, QStringLiteral("the %1 layer data %2").arg(compression.isEmpty() ? QStringLiteral("base64") : compression, problem));
        }
        gids.resize(cells);
        for (std::size_t k = 0; k < cells; ++k) {
            gids[k] = std::uint32_t{raw[4 * k]} | std::uint32_t{raw[4 * k + 1]} << 8 | std::uint32_t{raw[4 * k + 2]} << 16 |
                      std::uint32_t{raw[4 * k + 3]} << 24;
        }
    } else {
        invalid(file, QStringLiteral("layer data encoding \"%1\" is not known").arg(encoding));
    }
    if (gids.size() != cells) {
        invalid(file, QStringLiteral("the layer holds %1 cells, not %2").arg(gids.size()).arg(cells));
    }
    return gids;
}

QString EncodeLayerData(const QString& file, const std::vector<std::uint32_t>& gids, const QString& encoding,
                        const QString& compression, int width) {
    if (encoding == u"csv") {
        QString text;
        text.reserve(static_cast<qsizetype>(gids.size() * 4 + 2));
        for (std::size_t k = 0; k < gids.size(); ++k) {
            if (width > 0 && k % static_cast<std::size_t>(width) == 0) {
                text += '\n';
            }
            text += QString::number(gids[k]);
            if (k + 1 < gids.size()) {
                text += ',';
            }
        }
        return text + '\n';
    }
    QByteArray raw(static_cast<qsizetype>(gids.size() * 4), '\0');
    for (std::size_t k = 0; k < gids.size(); ++k) {
        for (int b = 0; b < 4; ++b) {
            raw[static_cast<qsizetype>(4 * k) + b] = static_cast<char>((gids[k] >> (8 * b)) & 0xFFu);
        }
    }
    QByteArray packed;
    if (compression.isEmpty()) {
        packed = raw;
    } else if (compression == u"zlib" || compression == u"gzip") {
        packed = deflated(file, raw, compression == u"gzip");
    } else if (compression == u"zstd") {
        packed.resize(static_cast<qsizetype>(ZSTD_compressBound(static_cast<std::size_t>(raw.size()))));
        const std::size_t size = ZSTD_compress(packed.data(), static_cast<std::size_t>(packed.size()), raw.constData(),
                                               static_cast<std::size_t>(raw.size()), 3);
        if (ZSTD_isError(size)) {
            invalid(file, QStringLiteral("the layer data did not compress"));
        }
        packed.resize(static_cast<qsizetype>(size));
    } else {
        invalid(file, QStringLiteral("layer data compression \"%1\" is not known").arg(compression));
    }
    return QStringLiteral("\n   %1\n  ").arg(QString::fromLatin1(packed.toBase64()));
}
