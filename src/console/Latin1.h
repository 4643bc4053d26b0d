// The activity log keeps one byte per character (Latin-1); the toolkit's text is UTF-16. The
// two ways between them, for the log's view and its accessible interface alike.
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace vostrel {

// The bytes as text, each byte one character.
inline QString Latin1(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<int>(bytes.size()));
}

// The text as bytes, one per character; a character past U+00FF becomes '?'.
inline std::string ToLatin1(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text)
        bytes.push_back(c.unicode() < 256 ? static_cast<char>(c.unicode()) : '?');
    return bytes;
}

}  // namespace vostrel
