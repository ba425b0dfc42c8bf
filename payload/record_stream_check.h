// A full check of a decoded record stream before anything is written from it.
#pragma once

#include <cstdint>
#include <string>

#include "payload/record_name.h"

namespace kesmar {

// True when the d bytes are a well-formed record stream: every record's header
// and data lie inside d, every name field holds a zero byte, every name passes
// IsValidRecordName for names in the code page of `leadBytes`, and the
// records tile the stream exactly.
bool CheckRecordStream(const uint8_t* stream, uint32_t d, const LeadBytes& leadBytes = LeadBytes());

// Where and why a record stream is not well formed.
struct RecordStreamFault {
  enum Kind {
    kNone,
    kHeaderPastEnd,     // fewer than 259 bytes left for the record's header
    kDataPastEnd,       // the data size runs past the end of the stream
    kNameUnterminated,  // the 255-byte name field holds no zero byte
    kBadName,           // the name fails the record-name rule
  };
  Kind kind = kNone;
  uint32_t index = 0;               // the record's number, counted from 0
  uint32_t offset = 0;              // where the record starts in the stream
  uint32_t dataSize = 0;            // its data size field, when the header is inside
  std::string name;                 // for kBadName
  const char* nameProblem = nullptr;  // for kBadName: RecordNameProblem's phrase
};

// CheckRecordStream that also says where the first fault lies. `fault` is
// left with kind kNone when the stream is well formed.
bool CheckRecordStream(const uint8_t* stream, uint32_t d, RecordStreamFault* fault,
                       const LeadBytes& leadBytes = LeadBytes());

}  // namespace kesmar
