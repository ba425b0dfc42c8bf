// CheckRecordStream.
#include "payload/record_stream_check.h"

#include "payload/byte_block.h"
#include "payload/payload_format.h"

namespace kesmar {

bool CheckRecordStream(const uint8_t* stream, uint32_t d, RecordStreamFault* fault,
                       const LeadBytes& leadBytes) {
  RecordStreamFault found;
  PayloadRecord record;
  uint32_t offset = 0;
  for (uint32_t index = 0; offset < d; ++index) {
    found.index = index;
    found.offset = offset;
    if (!ReadRecord(stream, d, offset, &record)) {
      // ReadRecord only says no; tell the three ways apart, reading nothing
      // that lies past d.
      if (uint64_t(offset) + PayloadRecord::kHeaderSize > d) {
        found.kind = RecordStreamFault::kHeaderPastEnd;
      } else {
        found.dataSize = ReadLe32(stream + offset);
        const uint64_t end = uint64_t(offset) + PayloadRecord::kHeaderSize + found.dataSize;
        found.kind = end > d ? RecordStreamFault::kDataPastEnd : RecordStreamFault::kNameUnterminated;
      }
      break;
    }
    if (const char* problem = RecordNameProblem(record.name, leadBytes)) {
      found.kind = RecordStreamFault::kBadName;
      found.dataSize = record.dataSize;
      found.name = record.name;
      found.nameProblem = problem;
      break;
    }
    offset = record.next;
  }
  const bool ok = found.kind == RecordStreamFault::kNone;
  if (ok) found = RecordStreamFault();
  if (fault != nullptr) *fault = found;
  return ok;
}

bool CheckRecordStream(const uint8_t* stream, uint32_t d, const LeadBytes& leadBytes) {
  return CheckRecordStream(stream, d, nullptr, leadBytes);
}

}  // namespace kesmar
