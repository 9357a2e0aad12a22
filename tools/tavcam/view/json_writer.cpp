// JSON text (see json_writer.h).
#include "tools/tavcam/view/json_writer.h"

#include <stdio.h>

namespace view {
namespace {

void AppendEscaped(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c < 0x80) {
            out += (char)c;
        } else {  // Latin-1 to UTF-8
            out += (char)(0xC0 | c >> 6);
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    out += '"';
}

}  // namespace

static void Separate(JsonWriter& w) {
    if (w.needComma) w.text += ',';
    w.needComma = false;
}

JsonWriter& JsonWriter::BeginObject() {
    Separate(*this);
    text += '{';
    return *this;
}
JsonWriter& JsonWriter::EndObject() {
    text += '}';
    needComma = true;
    return *this;
}
JsonWriter& JsonWriter::BeginArray() {
    Separate(*this);
    text += '[';
    return *this;
}
JsonWriter& JsonWriter::EndArray() {
    text += ']';
    needComma = true;
    return *this;
}
JsonWriter& JsonWriter::Key(const char* key) {
    Separate(*this);
    AppendEscaped(text, key);
    text += ':';
    return *this;
}
JsonWriter& JsonWriter::Value(const std::string& s) {
    Separate(*this);
    AppendEscaped(text, s);
    needComma = true;
    return *this;
}
JsonWriter& JsonWriter::Value(const char* s) {
    return Value(std::string(s));
}
JsonWriter& JsonWriter::Value(uint64_t n) {
    Separate(*this);
    text += std::to_string(n);
    needComma = true;
    return *this;
}
JsonWriter& JsonWriter::Value(int64_t n) {
    Separate(*this);
    text += std::to_string(n);
    needComma = true;
    return *this;
}
JsonWriter& JsonWriter::Value(bool b) {
    Separate(*this);
    text += b ? "true" : "false";
    needComma = true;
    return *this;
}

JsonWriter& JsonWriter::Value(double d) {
    Separate(*this);
    char number[32];
    snprintf(number, sizeof number, "%.2f", d);
    text += number;
    needComma = true;
    return *this;
}

std::string ErrorJson(const std::string& message) {
    JsonWriter w;
    w.BeginObject().Key("error").Value(message).EndObject();
    return w.text;
}

}  // namespace view
