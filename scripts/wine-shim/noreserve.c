/* Preloaded into 32-bit Wine processes when they run under qemu-user on a
 * kernel without 32-bit support. At start-up Wine tries to reserve most of the
 * 32-bit address space with hinted PROT_NONE mappings, halving the range on
 * each miss. qemu-user ignores those hints, so every attempt misses and the
 * search goes down to 64 KiB pieces: tens of thousands of emulated
 * mmap/munmap pairs and over a minute per process start. Refusing the small
 * pieces at once ends the search early; the reservation is only an
 * optimisation, and Wine runs without it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>

static int futile_reservation(void *addr, size_t len, int prot, int flags, int fd) {
  return addr != NULL && prot == PROT_NONE && (flags & MAP_NORESERVE) && !(flags & MAP_FIXED) &&
         fd == -1 && len < ((size_t)16 << 20);
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) {
  static void *(*real)(void *, size_t, int, int, int, off_t);
  if (futile_reservation(addr, len, prot, flags, fd)) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  if (!real) real = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
  return real(addr, len, prot, flags, fd, off);
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, __off64_t off) {
  static void *(*real)(void *, size_t, int, int, int, __off64_t);
  if (futile_reservation(addr, len, prot, flags, fd)) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  if (!real) real = (void *(*)(void *, size_t, int, int, int, __off64_t))dlsym(RTLD_NEXT, "mmap64");
  return real(addr, len, prot, flags, fd, off);
}
