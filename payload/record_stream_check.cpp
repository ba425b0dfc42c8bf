// CheckRecordStream.
#include "payload/record_stream_check.h"

#include "payload/payload_format.h"
#include "payload/record_name.h"

namespace kesmar {

bool CheckRecordStream(const uint8_t* stream, uint32_t d) {
  PayloadRecord record;
  uint32_t offset = 0;
  while (offset < d) {
    if (!ReadRecord(stream, d, offset, &record)) return false;
    if (!IsValidRecordName(record.name)) return false;
    offset = record.next;
  }
  return offset == d;
}

}  // namespace kesmar
