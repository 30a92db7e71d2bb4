// Runs a list of jobs on a few threads and hands their results on in list
// order, whatever order they finish in.
#pragma once

#include <cstddef>
#include <functional>

namespace halfmap::cli {

struct JobCallbacks {
  // Does job i on a worker thread; must not throw.
  std::function<void(std::size_t)> run;
  // Called for each job that ran, in index order, one call at a time, on
  // whichever worker completed the prefix.
  std::function<void(std::size_t)> finish;
  // Asked before each job is taken; true leaves the remaining jobs unstarted.
  std::function<bool()> stop;
  // Called once, on the calling thread, when the system starts fewer worker
  // threads than wanted (the calling thread counted among them); those that
  // started do every job. May be empty.
  std::function<void(std::size_t missing, std::size_t wanted)> fewerWorkers;
};

// Runs jobs 0..count-1, taken in index order by up to workers threads, and
// returns when every started job has finished. Returns how many started.
std::size_t RunJobs(std::size_t count, int workers, const JobCallbacks& callbacks);

}  // namespace halfmap::cli
