// Builders of record streams and containers for tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kesmar::testing {

using Bytes = std::string;  // raw bytes; std::string keeps comparisons readable

// One record: data size, the name field padded with zero bytes, the data.
Bytes Record(const std::string& name, const Bytes& data);
// Records back to back.
Bytes RecordStream(const std::vector<std::pair<std::string, Bytes>>& files);

// A container from our own CompressRecordStream; the test fails if it cannot.
Bytes Container(const Bytes& stream);
// A container whose LZMA data ends with an end marker, made by the SDK's
// encoder directly: what other LZMA encoders write.
Bytes ContainerWithEndMarker(const Bytes& stream);

std::string Hex(const Bytes& bytes, size_t limit = 64);

}  // namespace kesmar::testing
