// One-call LZMA compression and decompression with the LzmaLib signatures, over the SDK's LzmaEncode/LzmaDecode.
#pragma once

#include <cstddef>

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

// Compresses srcLen bytes of src into dest (room *destLen). On success
// *destLen holds the compressed length and *outPropsSize holds 5, with the
// five property bytes at outProps. No end marker is written. numThreads is
// accepted for signature compatibility; this build is single-threaded and
// never starts a thread. `progress`, when given, hears from the encoder
// between blocks; it changes nothing in what is written.
int LzmaCompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t srcLen,
                 unsigned char* outProps, size_t* outPropsSize, int level, unsigned dictSize, int lc,
                 int lp, int pb, int fb, int numThreads, CompressProgress* progress = nullptr);

// Decodes src (length *srcLen) with the five property bytes at props into
// dest, stopping once *destLen bytes have been produced. On return *destLen
// holds the bytes produced and *srcLen the bytes consumed. Running out of
// input before *destLen bytes is an error (kLzmaErrorInputEof); an end marker
// before that is success with a shorter *destLen, which callers must check.
int LzmaUncompress(unsigned char* dest, size_t* destLen, const unsigned char* src, size_t* srcLen,
                   const unsigned char* props, size_t propsSize);

}  // namespace kesmar
