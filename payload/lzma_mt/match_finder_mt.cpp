// The LZMA encoder's match finder split over two threads: the SDK's binary-tree walk runs ahead of the encoder.
//
// The encoder compresses one block in memory, so the whole input is in view
// from the start, and LzFind.c's bt4 finder does two separable things at each
// position: it looks the position up in its hash tables and puts it in (which
// gives the tree's first candidate and the short matches of two and three
// bytes), then walks the binary tree from that candidate (GetMatchesSpec1),
// which is most of the time. Here the encoder's thread does the first for
// blocks of kLzmaHandOverPositions positions ahead, a worker does the walk
// with the SDK's own GetMatchesSpec1, and the encoder's GetMatches and Skip
// read the matches the worker hands back. The walk is asked for the matches
// of every position: at one the encoder only skips, it leaves the tree
// exactly as Skip would (both insert the position the same way; GetMatches
// only also notes what it passes), so every position's matches, and so the
// compressed bytes, are those of the one-threaded encoder.
//
// Where the input is not all in view (a stream, or one near 4 GiB), the
// finder is not bt4, or no thread can be started, every call goes to the
// one-threaded finder itself.
#include <cstring>
#include <new>

#include "payload/lzma_lib.h"
#include "platform/threads.h"

extern "C" {
#include "LzFindMt.h"
#include "LzHash.h"
}

namespace kesmar {
namespace {

constexpr UInt32 kPositions = kLzmaHandOverPositions;
// Blocks in flight in each direction: lookups waiting for the walk, matches
// waiting for the encoder.
constexpr UInt32 kNumBlocks = 4;
// A lookup's record: the tree's first candidate, the length of the longest
// short match (0: the position is too near the end to look up), the number
// of words of short matches, and those words.
constexpr UInt32 kLookupWords = 8;
// The hash-table slots (tens of MiB, touched anywhere) of the position this
// many ahead are fetched while the present one is looked up, and the tree
// node (hundreds of MiB) of the candidate this many ahead while the present
// one is walked.
constexpr UInt32 kLookupAhead = 24;
constexpr UInt32 kWalkAhead = 4;
constexpr UInt32 kMaxValForNormalize = 0xFFFFFFFF;

struct Worker {
  CMatchFinder* finder = nullptr;
  IMatchFinder finderCalls = {};

  // The input as MatchFinder_Init leaves it: position i is at first + i and
  // has the finder's number firstPos + i.
  const Byte* first = nullptr;
  UInt32 firstPos = 0;
  UInt32 positions = 0;
  UInt32 numBlocks = 0;

  // The encoder's side: its place in the input and in the matches.
  bool threaded = false;
  const Byte* current = nullptr;
  UInt32 available = 0;
  UInt32 taken = 0;  // positions the encoder has had
  UInt32 blocksTaken = 0;
  UInt32 leftInBlock = 0;
  const UInt32* next = nullptr;

  // kNumBlocks blocks of lookups, and of matches: each position's count of
  // words, then at most one pair for each match length from 2 to
  // matchMaxLen, lengths rising.
  UInt32* lookups = nullptr;
  UInt32* words = nullptr;
  size_t blockWords = 0;

  // Under the monitor's lock.
  Monitor monitor;
  UInt32 lookupsDone = 0;      // blocks looked up by the encoder's thread
  UInt32 lookupsReleased = 0;  // and walked by the worker
  UInt32 blocksDone = 0;       // blocks of matches from the worker
  UInt32 blocksReleased = 0;   // read by the encoder
  bool stop = false;
  bool workerWaits = false;
  bool encoderWaits = false;

  Thread thread;
};

Worker* WorkerOf(void* object) { return static_cast<Worker*>(static_cast<CMatchFinderMt*>(object)->state); }

UInt32 LenLimit(const Worker& w, UInt32 position) {
  const UInt32 left = w.positions - position;
  return left < w.finder->matchMaxLen ? left : w.finder->matchMaxLen;
}

void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

// Bt4_MatchFinder_GetMatches up to the tree walk, for one block, on the encoder's thread.
void LookUp(Worker& w, UInt32 block) {
  CMatchFinder& f = *w.finder;
  CLzRef* hash = f.hash;
  const UInt32 begin = block * kPositions;
  const UInt32 end = w.positions - begin < kPositions ? w.positions : begin + kPositions;
  UInt32* record = w.lookups + (block % kNumBlocks) * kPositions * kLookupWords;
  for (UInt32 i = begin; i < end; ++i, record += kLookupWords) {
    const UInt32 lenLimit = LenLimit(w, i);
    if (lenLimit < 4) {
      record[1] = 0;
      continue;
    }
    if (w.positions - i > kLookupAhead + 4) {
      const Byte* cur = w.first + i + kLookupAhead;
      const UInt32 temp = f.crc[cur[0]] ^ cur[1];
      Prefetch(hash + kFix3HashSize + ((temp ^ (UInt32(cur[2]) << 8)) & (kHash3Size - 1)));
      Prefetch(hash + kFix4HashSize + ((temp ^ (UInt32(cur[2]) << 8) ^ (f.crc[cur[3]] << 5)) & f.hashMask));
    }
    const Byte* cur = w.first + i;
    const UInt32 pos = w.firstPos + i;
    const CMatchFinder* p = &f;  // for the SDK's macro
    UInt32 hash2Value, hash3Value, hashValue;
    HASH4_CALC;
    UInt32 delta2 = pos - hash[hash2Value];
    const UInt32 delta3 = pos - hash[kFix3HashSize + hash3Value];
    const UInt32 curMatch = hash[kFix4HashSize + hashValue];
    hash[hash2Value] = hash[kFix3HashSize + hash3Value] = hash[kFix4HashSize + hashValue] = pos;

    UInt32* distances = record + 3;
    UInt32 maxLen = 1, offset = 0;
    if (delta2 < f.cyclicBufferSize && *(cur - delta2) == *cur) {
      distances[0] = maxLen = 2;
      distances[1] = delta2 - 1;
      offset = 2;
    }
    if (delta2 != delta3 && delta3 < f.cyclicBufferSize && *(cur - delta3) == *cur) {
      maxLen = 3;
      distances[offset + 1] = delta3 - 1;
      offset += 2;
      delta2 = delta3;
    }
    if (offset != 0) {
      for (; maxLen != lenLimit; maxLen++)
        if (cur[ptrdiff_t(maxLen) - ptrdiff_t(delta2)] != cur[maxLen]) break;
      distances[offset - 2] = maxLen;
    }
    record[0] = curMatch;
    record[1] = maxLen;
    record[2] = offset;
  }
}

// The tree walk for one block of looked-up positions, on the worker.
void Walk(Worker& w, UInt32 block) {
  const CMatchFinder& f = *w.finder;
  CLzRef* son = f.son;
  const UInt32 cyclicSize = f.cyclicBufferSize;
  const UInt32 begin = block * kPositions;
  const UInt32 end = w.positions - begin < kPositions ? w.positions : begin + kPositions;
  const UInt32* record = w.lookups + (block % kNumBlocks) * kPositions * kLookupWords;
  UInt32* out = w.words + (block % kNumBlocks) * w.blockWords;
  UInt32 cyclicPos = UInt32(begin % cyclicSize);
  for (UInt32 i = begin; i < end; ++i, record += kLookupWords) {
    if (i + kWalkAhead < end && record[kWalkAhead * kLookupWords + 1] != 0) {
      const UInt32 delta = w.firstPos + i + kWalkAhead - record[kWalkAhead * kLookupWords];
      if (delta < cyclicSize) {
        UInt32 at = cyclicPos + kWalkAhead;
        if (at >= cyclicSize) at -= cyclicSize;
        Prefetch(son + (size_t(at - delta + (delta > at ? cyclicSize : 0)) << 1));
        Prefetch(w.first + i + kWalkAhead - delta);
      }
    }
    UInt32 numWords = 0;
    if (record[1] != 0) {
      const UInt32 lenLimit = LenLimit(w, i);
      const UInt32 curMatch = record[0], maxLen = record[1], offset = record[2];
      std::memcpy(out + 1, record + 3, offset * sizeof(UInt32));
      const Byte* cur = w.first + i;
      const UInt32 pos = w.firstPos + i;
      if (offset != 0 && maxLen == lenLimit) {
        // The short match already reaches the limit: bt4 only puts the
        // position in the tree (SkipMatchesSpec). The walk does the same when
        // nothing shorter than the limit counts as a match: it then changes
        // the tree exactly as that does, and notes one match, not kept.
        UInt32 notKept[2];
        GetMatchesSpec1(lenLimit, curMatch, pos, cur, son, cyclicPos, cyclicSize, f.cutValue, notKept,
                        lenLimit - 1);
        numWords = offset;
      } else {
        numWords = UInt32(GetMatchesSpec1(lenLimit, curMatch, pos, cur, son, cyclicPos, cyclicSize, f.cutValue,
                                          out + 1 + offset, maxLen < 3 ? 3 : maxLen) -
                          (out + 1));
      }
    }
    *out = numWords;
    out += 1 + numWords;
    if (++cyclicPos == cyclicSize) cyclicPos = 0;
  }
}

void Produce(void* argument) {
  Worker& w = *static_cast<Worker*>(argument);
  for (UInt32 block = 0; block < w.numBlocks; ++block) {
    w.monitor.Lock();
    while (!w.stop && (w.lookupsDone == block || block - w.blocksReleased == kNumBlocks)) {
      w.workerWaits = true;
      w.monitor.Wait();
    }
    w.workerWaits = false;
    const bool stop = w.stop;
    w.monitor.Unlock();
    if (stop) return;

    Walk(w, block);

    w.monitor.Lock();
    w.lookupsReleased = block + 1;
    w.blocksDone = block + 1;
    if (w.encoderWaits) w.monitor.NotifyAll();
    w.monitor.Unlock();
  }
}

void StopWorker(Worker& w) {
  if (!w.thread.Running()) return;
  w.monitor.Lock();
  w.stop = true;
  w.monitor.NotifyAll();
  w.monitor.Unlock();
  w.thread.Join();
}

// Gives the block just read back to the worker, looks up as many blocks
// ahead as there is room for, so that the worker never waits for them, and
// waits for the next block of matches.
void TakeBlock(Worker& w) {
  w.monitor.Lock();
  if (w.blocksTaken != 0) {
    w.blocksReleased = w.blocksTaken;
    if (w.workerWaits) w.monitor.NotifyAll();
  }
  for (;;) {
    if (w.lookupsDone < w.numBlocks && w.lookupsDone - w.lookupsReleased < kNumBlocks) {
      const UInt32 block = w.lookupsDone;
      w.monitor.Unlock();
      LookUp(w, block);
      w.monitor.Lock();
      w.lookupsDone = block + 1;
      if (w.workerWaits) w.monitor.NotifyAll();
      continue;
    }
    if (w.blocksDone != w.blocksTaken) break;
    w.encoderWaits = true;
    w.monitor.Wait();
    w.encoderWaits = false;
  }
  w.monitor.Unlock();
  w.next = w.words + (w.blocksTaken % kNumBlocks) * w.blockWords;
  ++w.blocksTaken;
  const UInt32 left = w.positions - w.taken;
  w.leftInBlock = left < kPositions ? left : kPositions;
}

// The words of the next position's matches, and the encoder on to the position after it.
const UInt32* NextPosition(Worker& w, UInt32* numWords) {
  ++w.current;
  --w.available;
  // Past the end the one-threaded finder finds nothing either.
  if (w.taken == w.positions) {
    *numWords = 0;
    return nullptr;
  }
  if (w.leftInBlock == 0) TakeBlock(w);
  const UInt32* matches = w.next;
  *numWords = *matches++;
  w.next = matches + *numWords;
  --w.leftInBlock;
  ++w.taken;
  return matches;
}

void MtInit(void* object) {
  Worker& w = *WorkerOf(object);
  StopWorker(w);
  CMatchFinder& f = *w.finder;
  MatchFinder_Init(&f);
  w.current = w.first = f.buffer;
  w.available = w.positions = f.streamPos - f.pos;
  w.firstPos = f.pos;
  w.threaded = false;
  // All of the input in view, and no position numbers so high that the
  // finder would renumber its tables on the way (MatchFinder_Normalize).
  if (!f.directInput || !f.streamEndWasReached || f.streamPos >= kMaxValForNormalize || !f.btMode ||
      f.numHashBytes != 4 || w.positions == 0)
    return;
  w.numBlocks = (w.positions - 1) / kPositions + 1;
  w.taken = w.blocksTaken = w.leftInBlock = 0;
  w.lookupsDone = w.lookupsReleased = w.blocksDone = w.blocksReleased = 0;
  w.stop = w.workerWaits = w.encoderWaits = false;
  w.threaded = w.thread.Start(Produce, &w);
}

Byte MtGetIndexByte(void* object, Int32 index) {
  Worker& w = *WorkerOf(object);
  return w.threaded ? w.current[index] : w.finderCalls.GetIndexByte(w.finder, index);
}

UInt32 MtGetNumAvailableBytes(void* object) {
  Worker& w = *WorkerOf(object);
  return w.threaded ? w.available : w.finderCalls.GetNumAvailableBytes(w.finder);
}

const Byte* MtGetPointerToCurrentPos(void* object) {
  Worker& w = *WorkerOf(object);
  return w.threaded ? w.current : w.finderCalls.GetPointerToCurrentPos(w.finder);
}

UInt32 MtGetMatches(void* object, UInt32* distances) {
  Worker& w = *WorkerOf(object);
  if (!w.threaded) return w.finderCalls.GetMatches(w.finder, distances);
  UInt32 numWords;
  const UInt32* matches = NextPosition(w, &numWords);
  if (numWords != 0) std::memcpy(distances, matches, numWords * sizeof(UInt32));
  return numWords;
}

void MtSkip(void* object, UInt32 num) {
  Worker& w = *WorkerOf(object);
  if (!w.threaded) return w.finderCalls.Skip(w.finder, num);
  UInt32 numWords;
  for (; num != 0; --num) NextPosition(w, &numWords);
}

}  // namespace
}  // namespace kesmar

using kesmar::Worker;

extern "C" void MatchFinderMt_Construct(CMatchFinderMt* p) {
  // MatchFinder is the encoder's to set, after this.
  p->state = nullptr;
}

extern "C" void MatchFinderMt_Destruct(CMatchFinderMt* p, ISzAlloc* alloc) {
  Worker* w = static_cast<Worker*>(p->state);
  if (w == nullptr) return;
  kesmar::StopWorker(*w);
  alloc->Free(alloc, w->words);
  alloc->Free(alloc, w->lookups);
  w->~Worker();
  alloc->Free(alloc, w);
  p->state = nullptr;
}

extern "C" SRes MatchFinderMt_Create(CMatchFinderMt* p, UInt32 historySize, UInt32 keepAddBufferBefore,
                                     UInt32 matchMaxLen, UInt32 keepAddBufferAfter, ISzAlloc* alloc) {
  if (!MatchFinder_Create(p->MatchFinder, historySize, keepAddBufferBefore, matchMaxLen,
                          keepAddBufferAfter, alloc))
    return SZ_ERROR_MEM;
  if (p->state == nullptr) {
    void* memory = alloc->Alloc(alloc, sizeof(Worker));
    if (memory == nullptr) return SZ_ERROR_MEM;
    p->state = new (memory) Worker;
  }
  Worker& w = *static_cast<Worker*>(p->state);
  kesmar::StopWorker(w);
  w.finder = p->MatchFinder;
  // A position gives its count, then at most one pair of words for each
  // match length from 2 to matchMaxLen, lengths rising.
  const size_t blockWords = size_t(kesmar::kLzmaHandOverPositions) * (1 + 2 * size_t(matchMaxLen));
  if (w.words != nullptr && w.blockWords != blockWords) {
    alloc->Free(alloc, w.words);
    w.words = nullptr;
  }
  if (w.words == nullptr) {
    w.words = static_cast<UInt32*>(alloc->Alloc(alloc, kesmar::kNumBlocks * blockWords * sizeof(UInt32)));
    if (w.words == nullptr) return SZ_ERROR_MEM;
    w.blockWords = blockWords;
  }
  if (w.lookups == nullptr) {
    w.lookups = static_cast<UInt32*>(alloc->Alloc(
        alloc, size_t(kesmar::kNumBlocks) * kesmar::kPositions * kesmar::kLookupWords * sizeof(UInt32)));
    if (w.lookups == nullptr) return SZ_ERROR_MEM;
  }
  return SZ_OK;
}

extern "C" void MatchFinderMt_CreateVTable(CMatchFinderMt* p, IMatchFinder* vTable) {
  Worker& w = *static_cast<Worker*>(p->state);
  MatchFinder_CreateVTable(p->MatchFinder, &w.finderCalls);
  vTable->Init = kesmar::MtInit;
  vTable->GetIndexByte = kesmar::MtGetIndexByte;
  vTable->GetNumAvailableBytes = kesmar::MtGetNumAvailableBytes;
  vTable->GetPointerToCurrentPos = kesmar::MtGetPointerToCurrentPos;
  vTable->GetMatches = kesmar::MtGetMatches;
  vTable->Skip = kesmar::MtSkip;
}

extern "C" void MatchFinderMt_ReleaseStream(CMatchFinderMt* p) {
  if (p->state != nullptr) kesmar::StopWorker(*static_cast<Worker*>(p->state));
}
