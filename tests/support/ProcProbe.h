// What /proc says about this process: open descriptors, its threads, and how often a thread has been
// scheduled, so tests can see leaks and wake-ups without instrumenting the code.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

int openFdCount();
std::vector<int> threadIds();
// Voluntary plus involuntary context switches of one thread of this process; -1 once it has ended.
int64_t contextSwitches(int tid);
// The scheduler state letter of one thread ('S' sleeping, 'R' running...), or 0 once it has ended.
char threadState(int tid);
// The memory this process holds resident now, in KB (VmRSS).
long residentKb();

} // namespace testsupport
