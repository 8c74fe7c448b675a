// Bytes shown as text. An instrument's serial number and firmware version are
// eight raw bytes, and a file name is whatever the file system holds: neither
// need be UTF-8, yet every front prints them, and JSON must be UTF-8. One rule
// for all of them keeps the tool, its JSON and the Python package showing the
// same text for the same bytes, and lets a user type back what was shown.
#include <cstring>

#include "vuxodata.h"

namespace {

// Length of the well-formed UTF-8 sequence of a printable code point at p
// (U+00A0 and up, no surrogates, no overlong forms), or 0.
std::size_t printable_utf8(const unsigned char* p, std::size_t left) {
    const unsigned char b = p[0];
    std::size_t n = 0;
    char32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (n > left) {
        return 0;
    }
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    const char32_t least[] = {0, 0, 0xA0, 0x800, 0x10000};
    if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        return 0;
    }
    return n;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Appends like snprintf: counts everything, stores what fits.
struct Sink {
    char* out;
    std::size_t size;
    std::size_t used = 0;
    void put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i, ++used) {
            if (out != nullptr && used + 1 < size) {
                out[used] = s[i];
            }
        }
    }
    std::size_t end() {
        if (out != nullptr && size > 0) {
            out[used < size ? used : size - 1] = '\0';
        }
        return used;
    }
};

} // namespace

extern "C" {

size_t vuxod_escape_text(const char* text, size_t size, char* out, size_t out_size) {
    Sink sink{out, out_size};
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t i = 0; p != nullptr && i < size;) {
        if (p[i] == '\\') {
            sink.put("\\\\", 2);
            ++i;
        } else if (p[i] >= 0x20 && p[i] < 0x7F) {
            sink.put(text + i, 1);
            ++i;
        } else if (const std::size_t n = printable_utf8(p + i, size - i); n > 0) {
            sink.put(text + i, n);
            i += n;
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            const char esc[] = {'\\', 'x', kHex[p[i] >> 4], kHex[p[i] & 0x0F]};
            sink.put(esc, sizeof esc);
            ++i;
        }
    }
    return sink.end();
}

size_t vuxod_unescape_text(const char* text, char* out, size_t out_size) {
    Sink sink{out, out_size};
    const std::size_t size = text != nullptr ? std::strlen(text) : 0;
    for (std::size_t i = 0; i < size;) {
        if (text[i] == '\\' && i + 1 < size && text[i + 1] == '\\') {
            sink.put("\\", 1);
            i += 2;
        } else if (text[i] == '\\' && i + 3 < size && text[i + 1] == 'x' &&
                   hex_value(text[i + 2]) >= 0 && hex_value(text[i + 3]) >= 0) {
            const char byte =
                static_cast<char>(hex_value(text[i + 2]) * 16 + hex_value(text[i + 3]));
            sink.put(&byte, 1);
            i += 4;
        } else {
            sink.put(text + i, 1);
            ++i;
        }
    }
    return sink.end();
}

} // extern "C"
