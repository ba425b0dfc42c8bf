// The encoder with its match finder on a second thread against the encoder alone: the same bytes, every way out clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "payload/lzma_lib.h"
#include "payload/payload_format.h"
#include "tests/support/payload_helpers.h"

extern "C" {
#include "LzFindMt.h"
}

namespace kesmar::testing {
namespace {

constexpr uint32_t kBlock = kLzmaHandOverPositions;

Bytes Random(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size, '\0');
  for (char& c : bytes) c = char(generator());
  return bytes;
}

// Words from a small vocabulary: matches of every length and distance.
Bytes Text(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"the ", "setup ", "launcher ", "writes ", "files ", "into ",
                                       "a ", "folder ", "of ", "its ", "own", ",\r\n", ". "};
  std::mt19937 generator(seed);
  Bytes text;
  while (text.size() < size) text += kWords[generator() % (sizeof kWords / sizeof *kWords)];
  text.resize(size);
  return text;
}

// Counts what the codec takes and gives back, and fails the allocation
// numbered `failAt` (from 1), if any.
class CountingMemory : public CompressMemory {
 public:
  explicit CountingMemory(int failAt = 0) : failAt_(failAt) {}
  void* Allocate(size_t size) override {
    if (++allocations == failAt_) return nullptr;
    void* address = std::malloc(size);
    if (address != nullptr) ++live;
    return address;
  }
  void Free(void* address) override {
    if (address != nullptr) --live;
    std::free(address);
  }
  int allocations = 0;
  int live = 0;

 private:
  int failAt_;
};

void SetThreadsVariable(const char* value) {
#ifdef _WIN32
  _putenv_s("KESMAR_PACK_THREADS", value != nullptr ? value : "");
#else
  if (value != nullptr) setenv("KESMAR_PACK_THREADS", value, 1);
  else unsetenv("KESMAR_PACK_THREADS");
#endif
}

struct Compressed {
  int result = -1;
  Bytes data;
  int allocations = 0;
};

// `input` compressed with the container's settings into `room` bytes (by
// default enough), through a CountingMemory that fails allocation `failAt`.
// Whatever the result, everything taken must have been given back.
Compressed Compress(const Bytes& input, int threads, uint32_t dictionary = PayloadContainer::kDictionarySize,
                    size_t room = SIZE_MAX, int failAt = 0, CompressProgress* progress = nullptr) {
  Compressed out;
  out.data.resize(std::min(room, input.size() + input.size() / 3 + 128) + kLzmaPropsSize);
  size_t size = out.data.size() - kLzmaPropsSize, propsSize = kLzmaPropsSize;
  auto* data = reinterpret_cast<unsigned char*>(&out.data[0]);
  CountingMemory memory(failAt);
  out.result = LzmaCompressWithMemory(memory, data + kLzmaPropsSize, &size,
                                      reinterpret_cast<const unsigned char*>(input.data()), input.size(), data,
                                      &propsSize, PayloadContainer::kLevel, dictionary, PayloadContainer::kLc,
                                      PayloadContainer::kLp, PayloadContainer::kPb, PayloadContainer::kFb, threads,
                                      progress);
  EXPECT_EQ(memory.live, 0) << "blocks not given back";
  out.allocations = memory.allocations;
  out.data.resize(kLzmaPropsSize + size);
  return out;
}

Bytes Decompress(const Compressed& compressed, size_t size) {
  Bytes out(size, '\0');
  size_t srcLen = compressed.data.size() - kLzmaPropsSize;
  const auto* data = reinterpret_cast<const unsigned char*>(compressed.data.data());
  if (LzmaUncompress(reinterpret_cast<unsigned char*>(&out[0]), &size, data + kLzmaPropsSize, &srcLen, data,
                     kLzmaPropsSize) != kLzmaOk)
    return "(does not decode)";
  out.resize(size);
  return out;
}

void* HeapAlloc(void*, size_t size) { return std::malloc(size); }
void HeapFree(void*, void* address) { std::free(address); }
ISzAlloc g_heap = {HeapAlloc, HeapFree};

// Matches position by position: the two-thread finder against the SDK's own,
// both asked as the encoder asks, mostly GetMatches and now and then Skip.
// The encoder's output hides many a wrong match; this does not.
void ExpectSameMatches(const Bytes& input, uint32_t dictionary) {
  const auto* data = reinterpret_cast<const Byte*>(input.data());
  CMatchFinder one, base;
  MatchFinder_Construct(&one);
  MatchFinder_Construct(&base);
  CMatchFinderMt two;
  MatchFinderMt_Construct(&two);
  two.MatchFinder = &base;
  for (CMatchFinder* finder : {&one, &base}) {
    finder->cutValue = 32;  // level 5 with fb 32: 16 + fb / 2
    finder->directInput = 1;
    finder->bufferBase = const_cast<Byte*>(data);
    finder->directInputRem = input.size();
  }
  const UInt32 fb = PayloadContainer::kFb, before = 1 << 12, after = 273;
  ASSERT_TRUE(MatchFinder_Create(&one, dictionary, before, fb, after, &g_heap));
  ASSERT_EQ(MatchFinderMt_Create(&two, dictionary, before, fb, after, &g_heap), SZ_OK);
  IMatchFinder oneCalls, twoCalls;
  MatchFinder_CreateVTable(&one, &oneCalls);
  MatchFinderMt_CreateVTable(&two, &twoCalls);
  oneCalls.Init(&one);
  twoCalls.Init(&two);

  std::mt19937 generator(input.size());
  UInt32 oneMatches[2 * 273 + 3], twoMatches[2 * 273 + 3];
  size_t position = 0, mismatches = 0;
  while (oneCalls.GetNumAvailableBytes(&one) != 0 && mismatches < 5) {
    ASSERT_EQ(twoCalls.GetNumAvailableBytes(&two), oneCalls.GetNumAvailableBytes(&one)) << position;
    ASSERT_EQ(twoCalls.GetPointerToCurrentPos(&two), data + position);
    ASSERT_EQ(oneCalls.GetPointerToCurrentPos(&one), data + position);
    if (generator() % 8 == 0) {
      const UInt32 skip = 1 + generator() % std::min<UInt32>(40, oneCalls.GetNumAvailableBytes(&one));
      oneCalls.Skip(&one, skip);
      twoCalls.Skip(&two, skip);
      position += skip;
      continue;
    }
    const UInt32 oneCount = oneCalls.GetMatches(&one, oneMatches);
    const UInt32 twoCount = twoCalls.GetMatches(&two, twoMatches);
    if (oneCount != twoCount || std::memcmp(oneMatches, twoMatches, oneCount * sizeof(UInt32)) != 0) {
      ADD_FAILURE() << "position " << position << ": " << oneCount << " words, and " << twoCount;
      ++mismatches;
    }
    ++position;
  }
  EXPECT_EQ(position, input.size());
  MatchFinderMt_ReleaseStream(&two);
  // Where the encoder skipped, the worker walked the tree all the same: the
  // tables must have come out as Skip leaves them.
  ASSERT_EQ(base.hashSizeSum, one.hashSizeSum);
  EXPECT_EQ(std::memcmp(base.hash, one.hash, one.hashSizeSum * sizeof(CLzRef)), 0) << "hash tables";
  const size_t nodes = std::min<size_t>(input.size(), one.cyclicBufferSize);
  EXPECT_EQ(std::memcmp(base.son, one.son, 2 * nodes * sizeof(CLzRef)), 0) << "binary tree";
  MatchFinderMt_Destruct(&two, &g_heap);
  MatchFinder_Free(&base, &g_heap);
  MatchFinder_Free(&one, &g_heap);
}

TEST(LzmaThreads, TwoThreadsWriteTheBytesOfOne) {
  const Bytes text = Text(400000, 1);
  struct Row {
    const char* what;
    Bytes input;
    uint32_t dictionary;
  } rows[] = {
      {"nothing", "", PayloadContainer::kDictionarySize},
      {"one byte", "K", PayloadContainer::kDictionarySize},
      {"five bytes, under the finder's four-byte hash and more", "abcab", PayloadContainer::kDictionarySize},
      {"records without data",
       RecordStream({{"a", ""}, {"b", ""}, {"KesmarSetup.exe", ""}, {"d", ""}}),
       PayloadContainer::kDictionarySize},
      {"zeros", Bytes(300000, '\0'), PayloadContainer::kDictionarySize},
      {"random", Random(200000, 2), PayloadContainer::kDictionarySize},
      {"text", text, PayloadContainer::kDictionarySize},
      {"text, six times the dictionary", text, 1 << 16},
      {"random beside its copy, farther apart than the dictionary",
       Random(150000, 3) + Random(150000, 3), 1 << 16},
      {"one hand-over block exactly", Text(kBlock, 4), PayloadContainer::kDictionarySize},
      {"one position short of a block", Text(kBlock - 1, 5), PayloadContainer::kDictionarySize},
      {"one position past a block", Text(kBlock + 1, 6), PayloadContainer::kDictionarySize},
      {"nine blocks exactly, more than the worker may run ahead", Text(9 * kBlock, 7),
       PayloadContainer::kDictionarySize},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExpectSameMatches(row.input, row.dictionary);
    const Compressed one = Compress(row.input, 1, row.dictionary);
    const Compressed two = Compress(row.input, 2, row.dictionary);
    ASSERT_EQ(one.result, kLzmaOk);
    ASSERT_EQ(two.result, kLzmaOk);
    EXPECT_EQ(one.data.size(), two.data.size());
    EXPECT_TRUE(one.data == two.data) << "first difference at byte "
                                      << std::mismatch(one.data.begin(), one.data.end(), two.data.begin(),
                                                       two.data.end()).first - one.data.begin();
    EXPECT_TRUE(Decompress(two, row.input.size()) == row.input);
  }
}

TEST(LzmaThreads, TheContainerIsTheSameWithOneThreadForced) {
  const Bytes stream = RecordStream({{"KesmarSetup.exe", Text(50000, 8)}, {"data.bin", Random(20000, 9)}});
  ByteBlock two, one;
  ASSERT_TRUE(CompressRecordStream(reinterpret_cast<const uint8_t*>(stream.data()), uint32_t(stream.size()), &two));
  SetThreadsVariable("1");
  EXPECT_EQ(CompressThreads(2), 1);
  ASSERT_TRUE(CompressRecordStream(reinterpret_cast<const uint8_t*>(stream.data()), uint32_t(stream.size()), &one));
  SetThreadsVariable(nullptr);
  ASSERT_EQ(one.size, two.size);
  EXPECT_EQ(std::memcmp(one.data(), two.data(), one.size), 0);
}

// Whichever allocation fails, the encoder and its match finder's thread report
// no memory and give everything back (Compress checks): the worker never
// outlives the call. Output that does not fit ends the encoder early, the
// worker mid-input: it is stopped and joined, and everything given back too.
TEST(LzmaThreads, EveryWayOutGivesEverythingBack) {
  const Bytes input = Text(3 * kBlock + 100, 10);
  const int allocations = Compress(input, 2, 1 << 16).allocations;
  ASSERT_GE(allocations, 6) << "the encoder, its buffers, its tables, the worker and its blocks";
  for (int failAt = 1; failAt <= allocations; ++failAt) {
    SCOPED_TRACE(failAt);
    EXPECT_EQ(Compress(input, 2, 1 << 16, SIZE_MAX, failAt).result, kLzmaErrorMem);
  }
  const Bytes random = Random(40 * kBlock, 12);
  for (const size_t room : {size_t(0), size_t(64), size_t(5000), random.size() / 2}) {
    SCOPED_TRACE(room);
    EXPECT_EQ(Compress(random, 2, 1 << 16, room).result, kLzmaErrorOutputEof);
  }
}

// The progress line moves while the worker runs: the encoder reports from the
// calling thread, ever further into the input.
TEST(LzmaThreads, ProgressIsHeardAsTheEncoderGoes) {
  struct Recorder : CompressProgress {
    void Progress(uint64_t inDone, uint64_t) override { seen.push_back(inDone); }
    std::vector<uint64_t> seen;
  } recorder;
  const Bytes input = Text(300000, 11);
  ASSERT_EQ(Compress(input, 2, PayloadContainer::kDictionarySize, SIZE_MAX, 0, &recorder).result, kLzmaOk);
  ASSERT_GE(recorder.seen.size(), 5u);
  for (size_t i = 1; i < recorder.seen.size(); ++i) EXPECT_GT(recorder.seen[i], recorder.seen[i - 1]);
}

}  // namespace
}  // namespace kesmar::testing
