#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Decodes an operation sequence from arbitrary bytes and runs it on two bitmaps and on
// two std::set<std::uint64_t> models side by side. Returns an empty string when every
// step agreed with the model, else a description of the first disagreement. Never
// reads past `size` bytes.
std::string runOperationSequence(const std::uint8_t* data, std::size_t size);
