#pragma once
// Process priority classes of the design mapped onto nice values.

namespace zembra {

enum class PriorityClass { Normal = 0, Idle = 1, High = 2, RealTime = 3 };

// The stored "Prority" choice as a class; any value outside 0..3 is Normal.
PriorityClass priorityFromChoice(int choice);
// Nice value of a class: Normal 0, Idle 19, High -10, RealTime -20.
int niceValueOf(PriorityClass priority);
// Sets the priority of the whole process. False when the system refuses (a
// raise above normal needs privileges); the process goes on at its old priority.
[[nodiscard]] bool setProcessPriority(PriorityClass priority);
// Current nice value of the process.
int currentNiceValue();
// Lowers the calling thread alone by `steps` nice values (at most to 19).
// For helper threads whose work the thread waiting for it can also do: where
// more threads are busy than there are cores, the threads the others wait
// for get the cores first.
void lowerThisThreadPriority(int steps);

}  // namespace zembra
