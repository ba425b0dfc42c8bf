// A full check of a decoded record stream before anything is written from it.
#pragma once

#include <cstdint>

namespace kesmar {

// True when the d bytes are a well-formed record stream: every record's header
// and data lie inside d, every name field holds a zero byte, every name passes
// IsValidRecordName, and the records tile the stream exactly.
bool CheckRecordStream(const uint8_t* stream, uint32_t d);

}  // namespace kesmar
