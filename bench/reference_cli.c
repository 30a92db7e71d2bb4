/* halfmap-reference INPUT OUTPUT: the plain C reference as a program. */
#include <stdio.h>
#include <string.h>

#include "reference.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  char scratch[4096];
  if (snprintf(scratch, sizeof scratch, "%s.tmp", argv[2]) >= (int)sizeof scratch) return 2;
  double flush = 0;
  if (reference_halve(argv[1], scratch, argv[2], &flush) != 0) {
    perror(argv[1]);
    return 1;
  }
  return 0;
}
