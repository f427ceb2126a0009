#pragma once
// Clean-ups for the very end of a program, while its application object and everything that
// object owns are still whole: a shared resource whose users must be gone before it goes (a web
// profile and its pages) is released here rather than by the application object's destructor,
// which deletes its children in no order of ours. The app's main and the test programs' main
// call runApplicationEndSteps() once their work is over, just before the application object
// goes. Main thread only.
#include <functional>

namespace dispatch {

// Registers a step; steps run in the reverse order of registration, each once.
void atApplicationEnd(std::function<void()> step);
// Runs the registered steps (and forgets them). Steps registered while they run run too.
void runApplicationEndSteps();

}  // namespace dispatch
