// The LZMA encoder's match finder on a second thread: the SDK's own binary-tree finder, run ahead of the encoder.
//
// The encoder compresses one block in memory, so the whole input is in view
// from the start. A worker walks it with the one-threaded finder (LzFind.c's
// bt4), asking for the matches of every position, and hands them over in
// blocks of kLzmaHandOverPositions positions; the encoder's GetMatches and
// Skip take them from there. Asking at a position the encoder would only skip
// leaves the finder's hash tables and tree exactly as Skip does (both insert
// the position with the same walk; GetMatches only also notes what it
// passes), so every position's matches, and so the compressed bytes, are those
// of the one-threaded encoder.
//
// Where the input is not all in view (a stream, or one past 4 GiB), or no
// thread can be started, every call goes to the one-threaded finder itself.
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

constexpr UInt32 kNumBlocks = 4;
// Positions ahead of the worker whose hash-table slots it asks the processor
// to fetch: the slots lie anywhere in tens of MiB, and waiting for them was
// most of the finder's time.
constexpr UInt32 kPrefetchDistance = 24;

struct Worker {
  CMatchFinder* finder = nullptr;
  IMatchFinder finderCalls = {};

  // The encoder's side: its position in the input, and in the hand-over.
  bool threaded = false;
  const Byte* current = nullptr;
  UInt32 available = 0;
  UInt32 positions = 0;  // in the input, when threaded
  UInt32 taken = 0;      // positions the encoder has had
  UInt32 blocksTaken = 0;
  UInt32 leftInBlock = 0;
  const UInt32* next = nullptr;

  // The hand-over: kNumBlocks blocks, each room for kLzmaHandOverPositions
  // positions of a count and at most that many words of matches.
  UInt32* words = nullptr;
  size_t blockWords = 0;

  // Under the monitor's lock.
  Monitor monitor;
  UInt32 blocksDone = 0;      // filled by the worker
  UInt32 blocksReleased = 0;  // given back by the encoder
  bool stop = false;
  bool workerWaits = false;
  bool encoderWaits = false;

  Thread thread;
};

Worker* WorkerOf(void* object) { return static_cast<Worker*>(static_cast<CMatchFinderMt*>(object)->state); }

void Prefetch(const CMatchFinder* finder) {
#if defined(__GNUC__)
  if (finder->numHashBytes != 4 || finder->streamPos - finder->pos <= kPrefetchDistance + 4) return;
  const Byte* cur = finder->buffer + kPrefetchDistance;
  const UInt32 temp = finder->crc[cur[0]] ^ cur[1];
  const UInt32 hash3 = (temp ^ (UInt32(cur[2]) << 8)) & (kHash3Size - 1);
  const UInt32 hash4 = (temp ^ (UInt32(cur[2]) << 8) ^ (finder->crc[cur[3]] << 5)) & finder->hashMask;
  __builtin_prefetch(finder->hash + kFix3HashSize + hash3, 1);
  __builtin_prefetch(finder->hash + kFix4HashSize + hash4, 1);
#else
  (void)finder;
#endif
}

void Produce(void* argument) {
  Worker& w = *static_cast<Worker*>(argument);
  CMatchFinder* finder = w.finder;
  const Mf_GetMatches_Func getMatches = w.finderCalls.GetMatches;
  UInt32 left = w.positions;
  for (UInt32 block = 0; left != 0; ++block) {
    w.monitor.Lock();
    while (!w.stop && block - w.blocksReleased == kNumBlocks) {
      w.workerWaits = true;
      w.monitor.Wait();
    }
    w.workerWaits = false;
    const bool stop = w.stop;
    w.monitor.Unlock();
    if (stop) return;

    UInt32* out = w.words + (block % kNumBlocks) * w.blockWords;
    const UInt32 count = left < kLzmaHandOverPositions ? left : kLzmaHandOverPositions;
    for (UInt32 i = 0; i < count; ++i) {
      Prefetch(finder);
      const UInt32 numWords = getMatches(finder, out + 1);
      *out = numWords;
      out += 1 + numWords;
    }
    left -= count;

    w.monitor.Lock();
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

// Gives the block just read back to the worker and waits for the next one.
void TakeBlock(Worker& w) {
  w.monitor.Lock();
  if (w.blocksTaken != 0) {
    w.blocksReleased = w.blocksTaken;
    if (w.workerWaits) w.monitor.NotifyAll();
  }
  while (w.blocksDone == w.blocksTaken) {
    w.encoderWaits = true;
    w.monitor.Wait();
  }
  w.encoderWaits = false;
  w.monitor.Unlock();
  w.next = w.words + (w.blocksTaken % kNumBlocks) * w.blockWords;
  ++w.blocksTaken;
  const UInt32 left = w.positions - w.taken;
  w.leftInBlock = left < kLzmaHandOverPositions ? left : kLzmaHandOverPositions;
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
  MatchFinder_Init(w.finder);
  w.current = w.finder->buffer;
  w.available = w.finder->streamPos - w.finder->pos;
  w.threaded = false;
  if (!w.finder->directInput || !w.finder->streamEndWasReached || w.available == 0) return;
  w.positions = w.available;
  w.taken = w.blocksTaken = w.leftInBlock = 0;
  w.blocksDone = w.blocksReleased = 0;
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
