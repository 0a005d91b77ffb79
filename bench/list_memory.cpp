// The heap that the match list of one pattern holds while its files are
// reported, with the note of its folder the reports read: glibc's count of
// bytes in use, taken before and after one expansion as the program makes
// it. Chunk sizes are counted, so the allocator's own overhead per
// allocation is part of the figure; the search's buffers are already
// released when the expansion returns, so they are not.
//
// usage: list_memory PATTERN      prints: entries held-bytes
#include <malloc.h>
#include <stdio.h>

#include "match.h"

namespace {

size_t InUse() {
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: list_memory PATTERN\n");
    return 2;
  }
  size_t before = InUse();
  MatchStore store = MatchStore();
  MatchList list = nullptr;
  FolderNote *folder = nullptr;
  int searchError;
  ExpandPatternInto(&store, argv[1], &list, &folder, &searchError);
  size_t after = InUse();
  size_t count = 0;
  for (MatchNode *node = list; node != nullptr; node = node->next)
    ++count;
  printf("%zu %zu\n", count, after - before);
  FreeFolderNote(folder);
  ReleaseMatchStore(&store);
  return 0;
}
