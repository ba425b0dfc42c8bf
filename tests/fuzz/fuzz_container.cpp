// Fuzz target: container decoding, then the record-stream check and the record walk the launcher relies on.
#include <cstdlib>

#include "payload/payload_format.h"
#include "payload/record_name.h"
#include "payload/record_stream_check.h"
#include "tests/fuzz/fuzz_input.h"

using namespace kesmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const std::vector<uint8_t> container = fuzzing::CappedContainer(data, size);
  ByteBlock stream;
  const bool decoded = DecompressContainer(container.data(), uint32_t(container.size()), &stream);
  if (!decoded) {
    if (stream.size != 0 || stream.data() != nullptr) abort();  // refused means empty
    return 0;
  }
  if (stream.size != ReadLe32(container.data())) abort();  // exactly the declared size
  if (!CheckRecordStream(stream.data(), stream.size)) return 0;

  // A stream that passed the check must walk cleanly to its exact end with
  // names that are safe to create: ExtractPayload counts on it.
  PayloadRecord record;
  for (uint32_t offset = 0; offset < stream.size; offset = record.next) {
    if (!ReadRecord(stream.data(), stream.size, offset, &record)) abort();
    if (record.next <= offset || record.next > stream.size) abort();
    if (!IsValidRecordName(record.name)) abort();
  }
  return 0;
}
