#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

// JSON written straight into bytes, in order, for the engines' files: a map of a few hundred
// thousand cells built as a QJsonDocument tree first took most of its export's time. Commas,
// escapes and number forms are handled here; the caller keeps keys and values paired and
// containers closed. Compact output, UTF-8.
class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The next value's key; only inside an object.
    JsonWriter& Key(std::string_view key);
    JsonWriter& Value(const QString& text);
    JsonWriter& Value(std::string_view text);
    JsonWriter& Value(const char* text) { return Value(std::string_view(text)); }
    JsonWriter& Value(bool value);
    JsonWriter& Value(int value) { return Value(static_cast<std::int64_t>(value)); }
    JsonWriter& Value(std::int64_t value);
    JsonWriter& Value(std::uint32_t value) { return Value(static_cast<std::int64_t>(value)); }
    // The shortest text that reads back as the same double; integral values without a point;
    // null for what JSON cannot hold (NaN, infinities).
    JsonWriter& Value(double value);
    // An array of numbers, the form of a tile layer's cells.
    JsonWriter& Numbers(const std::uint32_t* values, std::size_t count);

    const QByteArray& Bytes() const { return out_; }
    QByteArray Take() { return std::move(out_); }

private:
    void separate();
    void string(std::string_view utf8);

    QByteArray out_;
    std::vector<bool> empty_;  // by open container: nothing written into it yet
    bool keyed_ = false;       // a key was written; its value comes next
};
