// The fuzzer's input as a file the readers can open by name, kept in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace fuzz {

// A path naming a file that holds exactly data; valid until the next call.
std::filesystem::path MemoryFile(const uint8_t* data, size_t size);

} // namespace fuzz
