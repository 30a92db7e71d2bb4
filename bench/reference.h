/* The same half-scale work as the tool's core, written as plainly as C
   allows, as the yardstick for the core's speed: odd rows read with pread,
   even bytes gathered into a 1 MiB buffer written whole, fsync, rename. */
#ifndef HALFMAP_BENCH_REFERENCE_H
#define HALFMAP_BENCH_REFERENCE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the half-scale copy of input to scratch, puts it on disk and
   renames it to output. Returns 0, or -1 with errno set. The time spent in
   fsync is stored in *flush_seconds. */
int reference_halve(const char* input, const char* scratch, const char* output,
                    double* flush_seconds);

#ifdef __cplusplus
}
#endif

#endif
