#include "export/jsonwriter.h"

#include <charconv>
#include <cmath>

void JsonWriter::separate() {
    if (keyed_) {
        keyed_ = false;
        return;
    }
    if (!empty_.empty()) {
        if (!empty_.back()) {
            out_.append(',');
        }
        empty_.back() = false;
    }
}

JsonWriter& JsonWriter::BeginObject() {
    separate();
    out_.append('{');
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    out_.append('}');
    empty_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    separate();
    out_.append('[');
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    out_.append(']');
    empty_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    separate();
    string(key);
    out_.append(':');
    keyed_ = true;
    return *this;
}

void JsonWriter::string(std::string_view utf8) {
    static const char hex[] = "0123456789abcdef";
    out_.append('"');
    std::size_t from = 0;
    for (std::size_t k = 0; k < utf8.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(utf8[k]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        out_.append(utf8.data() + from, static_cast<qsizetype>(k - from));
        from = k + 1;
        switch (c) {
        case '"': out_.append("\\\""); break;
        case '\\': out_.append("\\\\"); break;
        case '\n': out_.append("\\n"); break;
        case '\r': out_.append("\\r"); break;
        case '\t': out_.append("\\t"); break;
        case '\b': out_.append("\\b"); break;
        case '\f': out_.append("\\f"); break;
        default: {
            const char escaped[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out_.append(escaped, 6);
        }
        }
    }
    out_.append(utf8.data() + from, static_cast<qsizetype>(utf8.size() - from));
    out_.append('"');
}

JsonWriter& JsonWriter::Value(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Value(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

JsonWriter& JsonWriter::Value(std::string_view text) {
    separate();
    string(text);
    return *this;
}

JsonWriter& JsonWriter::Value(bool value) {
    separate();
    out_.append(value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::Value(std::int64_t value) {
    separate();
    char text[24];
    out_.append(text, std::to_chars(text, text + sizeof text, value).ptr - text);
    return *this;
}

JsonWriter& JsonWriter::Value(double value) {
    if (!std::isfinite(value)) {
        separate();
        out_.append("null");
        return *this;
    }
    if (value == std::trunc(value) && std::abs(value) < 9.0e15) {
        return Value(static_cast<std::int64_t>(value));
    }
    separate();
    char text[32];
    out_.append(text, std::to_chars(text, text + sizeof text, value).ptr - text);
    return *this;
}

JsonWriter& JsonWriter::Numbers(const std::uint32_t* values, std::size_t count) {
    BeginArray();
    // Written into room for the longest numbers, then cut to what they took.
    const qsizetype start = out_.size();
    out_.resize(start + static_cast<qsizetype>(count) * 11);
    char* at = out_.data() + start;
    char* const end = out_.data() + out_.size();
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0) {
            *at++ = ',';
        }
        at = std::to_chars(at, end, values[k]).ptr;
    }
    out_.truncate(at - out_.data());
    empty_.back() = count == 0;
    return EndArray();
}
