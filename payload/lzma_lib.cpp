// LzmaLib-style wrapper: the one place that includes the LZMA SDK's headers.
#include "payload/lzma_lib.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#ifndef _7ZIP_ST
#include "platform/threads.h"
#endif

extern "C" {
#include "LzmaDec.h"
#include "LzmaEnc.h"
}

namespace kesmar {
namespace {

void* SdkAlloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void SdkFree(void*, void* address) { std::free(address); }

ISzAlloc g_sdkAlloc = {SdkAlloc, SdkFree};

// The caller's CompressMemory behind the SDK's allocator interface, which,
// like the progress one below, hands back a pointer to itself.
struct MemoryBridge {
  ISzAlloc sdk;
  CompressMemory* memory;
};

void* ForwardAlloc(void* self, size_t size) {
  return size == 0 ? nullptr : static_cast<MemoryBridge*>(self)->memory->Allocate(size);
}
void ForwardFree(void* self, void* address) { static_cast<MemoryBridge*>(self)->memory->Free(address); }

// The SDK's progress interface is a struct of one function pointer that the
// encoder calls with a pointer to the struct itself; the caller's hook rides
// behind it.
struct ProgressBridge {
  ICompressProgress sdk;
  CompressProgress* hook;
};

SRes ForwardProgress(void* self, UInt64 inSize, UInt64 outSize) {
  static_cast<ProgressBridge*>(self)->hook->Progress(inSize, outSize);
  return SZ_OK;
}

static_assert(kLzmaErrorData == SZ_ERROR_DATA && kLzmaErrorMem == SZ_ERROR_MEM &&
                  kLzmaErrorUnsupported == SZ_ERROR_UNSUPPORTED &&
                  kLzmaErrorParam == SZ_ERROR_PARAM && kLzmaErrorInputEof == SZ_ERROR_INPUT_EOF &&
                  kLzmaErrorOutputEof == SZ_ERROR_OUTPUT_EOF,
              "our result codes mirror the SDK's");

// Inlined into both callers: the stub, which only calls LzmaCompress, then
// holds that function as it always was and none of the other.
[[gnu::always_inline]] inline int Compress(ISzAlloc* alloc, unsigned char* dest, size_t* destLen, const unsigned char* src,
             size_t srcLen, unsigned char* outProps, size_t* outPropsSize, int level, unsigned dictSize,
             int lc, int lp, int pb, int fb, int numThreads, CompressProgress* progress) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = level;
  props.dictSize = dictSize;
  props.lc = lc;
  props.lp = lp;
  props.pb = pb;
  props.fb = fb;
  props.numThreads = numThreads;
  SizeT sdkDestLen = *destLen;
  SizeT sdkPropsSize = *outPropsSize;
  ProgressBridge bridge = {{ForwardProgress}, progress};
  static_assert(offsetof(ProgressBridge, sdk) == 0, "the encoder hands back &bridge.sdk");
  const SRes result =
      LzmaEncode(dest, &sdkDestLen, src, srcLen, &props, outProps, &sdkPropsSize,
                 /*writeEndMark=*/0, progress != nullptr ? &bridge.sdk : nullptr, alloc, alloc);
  *destLen = sdkDestLen;
  *outPropsSize = sdkPropsSize;
  return result;
}

}  // namespace

int LzmaCompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t srcLen,
                 unsigned char* outProps, size_t* outPropsSize, int level, unsigned dictSize, int lc,
                 int lp, int pb, int fb, int numThreads, CompressProgress* progress) {
  return Compress(&g_sdkAlloc, dest, destLen, src, srcLen, outProps, outPropsSize, level, dictSize,
                  lc, lp, pb, fb, numThreads, progress);
}

int LzmaCompressWithMemory(CompressMemory& memory, unsigned char* dest, size_t* destLen,
                           const unsigned char* src, size_t srcLen, unsigned char* outProps,
                           size_t* outPropsSize, int level, unsigned dictSize, int lc, int lp, int pb,
                           int fb, int numThreads, CompressProgress* progress) {
  MemoryBridge bridge = {{ForwardAlloc, ForwardFree}, &memory};
  static_assert(offsetof(MemoryBridge, sdk) == 0, "the encoder hands back &bridge.sdk");
  return Compress(&bridge.sdk, dest, destLen, src, srcLen, outProps, outPropsSize, level, dictSize,
                  lc, lp, pb, fb, numThreads, progress);
}

#ifndef _7ZIP_ST
int CompressThreads(int wanted) {
  if (wanted < 2) return wanted;
  const char* forced = std::getenv("KESMAR_PACK_THREADS");
  if (forced != nullptr && std::strcmp(forced, "1") == 0) return 1;
  return UsableProcessorCount() < 2 ? 1 : wanted;
}
#endif

int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
                   const unsigned char* props, size_t propsSize) {
  ELzmaStatus status;
  SizeT sdkDestLen = *destLen;
  SizeT sdkSrcLen = *srcLen;
  const SRes result = LzmaDecode(dest, &sdkDestLen, src, &sdkSrcLen, props, unsigned(propsSize),
                                 LZMA_FINISH_ANY, &status, &g_sdkAlloc);
  *destLen = sdkDestLen;
  *srcLen = sdkSrcLen;
  return result;
}

}  // namespace kesmar
