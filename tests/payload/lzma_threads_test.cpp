// The encoder with its match finder on a second thread against the encoder alone: the same bytes, every way out clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
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
    if (generator() % 8 == 0) {
      const UInt32 skip = 1 + generator() % std::min<UInt32>(40, oneCalls.GetNumAvailableBytes(&one));
      oneCalls.Skip(&one, skip), twoCalls.Skip(&two, skip), position += skip;
      continue;
    }
    const UInt32 oneCount = oneCalls.GetMatches(&one, oneMatches), twoCount = twoCalls.GetMatches(&two, twoMatches);
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
  constexpr uint32_t kDictionary = PayloadContainer::kDictionarySize;
  const Bytes text = Text(400000, 1);
  const struct {
    const char* what;
    Bytes input;
    uint32_t dictionary = kDictionary;
  } rows[] = {
      {"nothing", ""},
      {"one byte", "K"},
      {"five bytes, under the finder's four-byte hash and more", "abcab"},
      {"records without data", RecordStream({{"a", ""}, {"b", ""}, {"KesmarSetup.exe", ""}, {"d", ""}})},
      {"zeros", Bytes(300000, '\0')},
      {"random", Random(200000, 2)},
      {"text", text},
      {"text, six times the dictionary", text, 1 << 16},
      {"random beside its copy, farther apart than the dictionary", Random(150000, 3) + Random(150000, 3), 1 << 16},
      {"one hand-over block exactly", Text(kBlock, 4)},
      {"one position short of a block", Text(kBlock - 1, 5)},
      {"one position past a block", Text(kBlock + 1, 6)},
      {"nine blocks exactly, more than the worker may run ahead", Text(9 * kBlock, 7)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ExpectSameMatches(row.input, row.dictionary);
    const Compressed one = Compress(row.input, 1, row.dictionary), two = Compress(row.input, 2, row.dictionary);
    ASSERT_EQ(one.result, kLzmaOk);
    ASSERT_EQ(two.result, kLzmaOk);
    EXPECT_TRUE(one.data == two.data) << "first difference at byte "
                                      << std::mismatch(one.data.begin(), one.data.end(), two.data.begin(),
                                                       two.data.end()).first - one.data.begin();
  }
}

// KESMAR_PACK_THREADS=1 holds the encoder to one thread.
TEST(LzmaThreads, OneThreadCanBeForced) {
  SetThreadsVariable("1");
  EXPECT_EQ(CompressThreads(2), 1);
  SetThreadsVariable(nullptr);
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
  struct : CompressProgress {
    void Progress(uint64_t inDone, uint64_t) override { seen.push_back(inDone); }
    std::vector<uint64_t> seen;
  } recorder;
  ASSERT_EQ(Compress(Text(300000, 11), 2, PayloadContainer::kDictionarySize, SIZE_MAX, 0, &recorder).result, kLzmaOk);
  ASSERT_GE(recorder.seen.size(), 5u);
  EXPECT_EQ(std::adjacent_find(recorder.seen.begin(), recorder.seen.end(), std::greater_equal<uint64_t>()),
            recorder.seen.end());
}

}  // namespace
}  // namespace kesmar::testing
