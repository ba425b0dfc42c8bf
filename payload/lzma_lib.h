// One-call LZMA compression and decompression with the LzmaLib signatures, over the SDK's LzmaEncode/LzmaDecode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "payload/compress_progress.h"

namespace kesmar {

// Result codes are the SDK's: 0 is success.
constexpr int kLzmaOk = 0;
constexpr int kLzmaErrorData = 1;
constexpr int kLzmaErrorMem = 2;
constexpr int kLzmaErrorUnsupported = 4;
constexpr int kLzmaErrorParam = 5;
constexpr int kLzmaErrorInputEof = 6;
constexpr int kLzmaErrorOutputEof = 7;

constexpr size_t kLzmaPropsSize = 5;

// With two threads, the match finder's thread hands the encoder the matches of
// this many positions at a time (payload/lzma_mt/match_finder_mt.cpp).
constexpr uint32_t kLzmaHandOverPositions = 1 << 11;

// Where the codec takes its working memory, for callers that want to see it or
// fail it; by default the heap.
class CompressMemory {
 public:
  virtual ~CompressMemory() = default;
  virtual void* Allocate(size_t size) = 0;  // nullptr when there is none
  virtual void Free(void* address) = 0;     // address may be nullptr
};

// Compresses srcLen bytes of src into dest (room *destLen). On success
// *destLen holds the compressed length and *outPropsSize holds 5, with the
// five property bytes at outProps. No end marker is written. With numThreads
// 2 or more the match finder runs on a thread of its own, started and joined
// within the call; the bytes written are the same as with 1. A build without
// threads (the launcher's, whose "-c" packs once) takes any numThreads as 1.
// `progress`, when given, hears from the encoder between blocks, on the
// calling thread; it changes nothing in what is written.
int LzmaCompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t srcLen,
                 unsigned char* outProps, size_t* outPropsSize, int level, unsigned dictSize, int lc,
                 int lp, int pb, int fb, int numThreads, CompressProgress* progress = nullptr);
// LzmaCompress with every allocation of the encoder and its match finder
// served by `memory` (a program that never calls it, the stub, links none of it).
int LzmaCompressWithMemory(CompressMemory& memory, unsigned char* dest, size_t* destLen,
                           const unsigned char* src, size_t srcLen, unsigned char* outProps,
                           size_t* outPropsSize, int level, unsigned dictSize, int lc, int lp, int pb,
                           int fb, int numThreads, CompressProgress* progress = nullptr);

// The thread count to hand LzmaCompress for `wanted`: 1 in a build without
// threads, on a machine where this process may use one processor only, and
// when the environment variable KESMAR_PACK_THREADS is 1; `wanted` otherwise.
#ifdef _7ZIP_ST
inline int CompressThreads(int) { return 1; }
#else
int CompressThreads(int wanted);
#endif

// Decodes src (length *srcLen) with the five property bytes at props into
// dest, stopping once *destLen bytes have been produced. On return *destLen
// holds the bytes produced and *srcLen the bytes consumed. Running out of
// input before *destLen bytes is an error (kLzmaErrorInputEof); an end marker
// before that is success with a shorter *destLen, which callers must check.
int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
                   const unsigned char* props, size_t propsSize);

}  // namespace kesmar
