// A small writer of JSON text for the view's answers: objects, arrays,
// numbers, booleans and strings. Camera names come from the camera's flash
// and may hold any byte; every string is escaped, bytes above 0x7F read as
// Latin-1, so the text is always valid JSON and valid UTF-8.
#pragma once

#include <stdint.h>

#include <string>

namespace view {

struct JsonWriter {
    std::string text;
    bool needComma = false;

    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const char* key);  // the next value belongs to this key
    JsonWriter& Value(const std::string& s);
    JsonWriter& Value(const char* s);
    JsonWriter& Value(uint64_t n);
    JsonWriter& Value(int64_t n);
    JsonWriter& Value(uint32_t n) { return Value((uint64_t)n); }
    JsonWriter& Value(int32_t n) { return Value((int64_t)n); }
    JsonWriter& Value(bool b);
    JsonWriter& Value(double d);  // with two decimals
};

// {"error": message}: the body of every refusal.
std::string ErrorJson(const std::string& message);

}  // namespace view
