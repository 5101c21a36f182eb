// JSON Lines for the report and the journal, through nlohmann::json. Every
// string is dumped with invalid UTF-8 replaced (U+FFFD), so no dump throws;
// where a name is not valid UTF-8 its exact bytes go beside it in hex.
#ifndef TESSMARK_JSONLINE_H
#define TESSMARK_JSONLINE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <nlohmann/json.hpp>

// 1 when the bytes are well-formed UTF-8 (no overlongs, surrogates or code
// points past U+10FFFF).
int Json_IsUtf8(const char* text, size_t length);

// Lower-case hex of the bytes.
std::string Json_Hex(const void* bytes, size_t length);

// Decodes hex into out; 0 when it is not hex of whole bytes.
int Json_FromHex(const std::string& hex, std::string* out);

// Sets key to text, and key + "_bytes" to its hex when text is not UTF-8.
template <class Json>
void Json_PutName(Json* object, const char* key, const char* text)
{
    const size_t length = strlen(text);
    (*object)[key] = std::string(text, length);
    if (!Json_IsUtf8(text, length))
        (*object)[std::string(key) + "_bytes"] = Json_Hex(text, length);
}

// The exact bytes of a name put with Json_PutName; 0 when absent or bad.
int Json_GetName(const nlohmann::json& object, const char* key, std::string* out);

// Integer member key, or 0 when it is missing or not an integer.
int Json_GetInt(const nlohmann::json& object, const char* key, int64_t* out);

// object as one line, with its newline.
template <class Json>
std::string Json_Line(const Json& object)
{
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Writes object as one line to out. 0, or -1 when the write failed.
int Json_WriteLine(FILE* out, const nlohmann::json& object);

#endif
