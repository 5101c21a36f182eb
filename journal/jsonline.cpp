#include "jsonline.h"

#include <string.h>

int Json_IsUtf8(const char* text, size_t length)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        const unsigned c = p[i];
        size_t more;
        uint32_t cp;
        if (c < 0x80) {
            i += 1;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return 0;
        }
        if (length - i <= more)
            return 0;  // cut short
        for (size_t k = 1; k <= more; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return 0;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return 0;
        i += more + 1;
    }
    return 1;
}

std::string Json_Hex(const void* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    std::string out(length * 2, '0');
    for (size_t i = 0; i < length; ++i) {
        out[2 * i] = digits[p[i] >> 4];
        out[2 * i + 1] = digits[p[i] & 0x0F];
    }
    return out;
}

static int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int Json_FromHex(const std::string& hex, std::string* out)
{
    if (hex.size() % 2 != 0)
        return 0;
    out->assign(hex.size() / 2, '\0');
    for (size_t i = 0; i < out->size(); ++i) {
        const int high = hexDigit(hex[2 * i]);
        const int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return 0;
        (*out)[i] = static_cast<char>(high * 16 + low);
    }
    return 1;
}

int Json_GetName(const nlohmann::json& object, const char* key, std::string* out)
{
    auto bytes = object.find(std::string(key) + "_bytes");
    if (bytes != object.end())
        return bytes->is_string() && Json_FromHex(bytes->get_ref<const std::string&>(), out);
    auto text = object.find(key);
    if (text == object.end() || !text->is_string())
        return 0;
    *out = text->get_ref<const std::string&>();
    return 1;
}

int Json_GetInt(const nlohmann::json& object, const char* key, int64_t* out)
{
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer())
        return 0;
    *out = it->get<int64_t>();
    return 1;
}

int Json_WriteLine(FILE* out, const nlohmann::json& object)
{
    const std::string line = Json_Line(object);
    return fwrite(line.data(), 1, line.size(), out) == line.size() ? 0 : -1;
}
