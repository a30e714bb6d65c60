#pragma once

class QThread;

// How the program's threads share the cores: the ones that answer a sensor go first, the
// loads of the views go last, everything else at the default in between.
namespace ThreadScheduling
{

// Starts `thread` behind the program's other threads: the loads of the tables and the graph
// run on what the cores have left once the sensors are answered, their readings stored and
// the window drawn, so a long load never delays a reply. It still gets its turn when every
// core is busy (a lower share, not only idle time).
void startBehind(QThread* thread);

// Lets the calling thread take a core as soon as it wakes. A sensor listens only briefly after
// it sends; a thread that answers it must not wait out another thread's whole turn (about 3 ms
// on Linux) for a reply that takes microseconds. The thread asks the kernel for short turns,
// which it runs before longer ones; its share of the cores stays that of any thread. Returns
// false where the kernel has no such turns (Linux before 6.12): the thread keeps the default.
bool answerPromptly();

// The length of the turns of thread `tid` (0: the calling thread), in ns; 0 where the kernel
// does not tell.
unsigned long long turnNs(long tid = 0);

} // namespace ThreadScheduling
