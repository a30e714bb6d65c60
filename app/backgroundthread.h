#pragma once

class QThread;

namespace BackgroundThread
{

// Starts `thread` behind the program's other threads: the loads of the tables and the graph
// run on what the cores have left once the sensors are answered, their readings stored and
// the window drawn, so a long load never delays a reply. It still gets its turn when every
// core is busy (a lower share, not only idle time).
void startBehind(QThread* thread);

} // namespace BackgroundThread
