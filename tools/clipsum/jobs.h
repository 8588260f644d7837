#pragma once
// Many files side by side (-j N): worker threads take the files of the list in
// turn, each with an engine, a reporter and a sweep of its own, and what they
// report is written by the calling thread in the order of the list, as one
// thread would have written it, whatever finishes first. An mbox is one file:
// its messages stay in order in one thread.

#include "run.h"
#include "walk.h"

// Most threads -j asks for.
constexpr unsigned kMaxJobs = 64;

// One thread per processor, as far as the system tells.
unsigned DefaultJobs();

// Walks targets into work (CollectWork, in a thread of its own) and handles
// each item with at most jobs threads as soon as it is listed, calling handle
// with a Run of the thread's own whose reporter records. walked receives
// CollectWork's answer: false when memory ran out, the files listed before
// then handled. False, with the walk done and nothing handled, when not one
// thread or the memory for the records could be had.
bool WalkAndHandleInParallel(const NameList& targets, bool recursive, unsigned jobs, const Run& run,
                             void (*handle)(const WorkItem&, const Run&), WorkList* work, bool* walked);
