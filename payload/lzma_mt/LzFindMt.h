/* The encoder's match finder on a thread of its own, behind the interface the
   LZMA SDK's encoder uses when it is built without _7ZIP_ST. Our own code: the
   SDK's encoder includes this header by this name. */
#ifndef KESMAR_LZ_FIND_MT_H
#define KESMAR_LZ_FIND_MT_H

#include "LzFind.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _CMatchFinderMt
{
  /* The one-threaded binary-tree finder that the worker runs; set by the encoder. */
  CMatchFinder *MatchFinder;
  /* The worker, its hand-over blocks and the encoder's place in them; made by Create. */
  void *state;
} CMatchFinderMt;

void MatchFinderMt_Construct(CMatchFinderMt *p);
/* Joins the worker and frees what Create took. */
void MatchFinderMt_Destruct(CMatchFinderMt *p, ISzAlloc *alloc);
/* MatchFinder_Create's settings; SZ_ERROR_MEM when the tables or the
   hand-over blocks cannot be had. */
SRes MatchFinderMt_Create(CMatchFinderMt *p, UInt32 historySize, UInt32 keepAddBufferBefore,
    UInt32 matchMaxLen, UInt32 keepAddBufferAfter, ISzAlloc *alloc);
void MatchFinderMt_CreateVTable(CMatchFinderMt *p, IMatchFinder *vTable);
/* The encoder is done with the input: the worker is stopped and joined. */
void MatchFinderMt_ReleaseStream(CMatchFinderMt *p);

#ifdef __cplusplus
}
#endif

#endif
