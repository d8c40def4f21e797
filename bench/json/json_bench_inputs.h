// Generated benchmark inputs, the same for every reader measured.
#pragma once

#include <string>
#include <vector>

namespace kestrel::bench {

// Sensor blocks of about 200 bytes: flat members, one small nested object.
std::vector<std::string> SmallBlocks(int count);
// Records of about 2 KB: nested objects and arrays, strings with non-ASCII text.
std::vector<std::string> MediumRecords(int count);
// One document of about `bytes` bytes: an array of records.
std::string LargeDocument(size_t bytes);

} // namespace kestrel::bench
