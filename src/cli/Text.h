#pragma once

#include <string>
#include <string_view>

namespace kiv::cli {

// `text` as a JSON string literal, quotes included. Paths are bytes, not always UTF-8: a byte that
// is not part of a valid UTF-8 sequence is written as the escape of U+DC00 plus that byte, as
// Python's "surrogateescape" reads it, so no byte is lost and the output stays valid JSON. Bytes are
// read as the path text pair of the file system (PathText.h) reads them.
std::string JsonString(std::string_view text);

}  // namespace kiv::cli
