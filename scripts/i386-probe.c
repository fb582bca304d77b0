// i386-probe.c: built as a 32-bit x86 program by scripts/i386-emulation,
// it runs where this machine runs 32-bit programs at all, and succeeds
// where they run as Wine's 32-bit loader needs: a mapping asked for with
// MAP_FIXED_NOREPLACE over a range that is taken is refused (EEXIST), as
// the kernel does, rather than placed elsewhere. Wine reserves the Windows
// address ranges this way and takes a mapping it did not ask for as its own.
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <sys/mman.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

int main(void) {
  const size_t size = 65536;
  void* taken = mmap(NULL, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (taken == MAP_FAILED) {
    perror("i386-probe: mmap");
    return 1;
  }
  void* again =
      mmap(taken, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (again != MAP_FAILED || errno != EEXIST) {
    fprintf(stderr, "i386-probe: MAP_FIXED_NOREPLACE over a taken range was %s\n",
            again == MAP_FAILED ? "refused with the wrong error" : "placed elsewhere");
    return 1;
  }
  return 0;
}
