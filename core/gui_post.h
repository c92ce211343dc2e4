// Runs a function in the GUI thread, later, from any thread. The calls
// wait in a queue of the program's own, under a std::mutex (which
// ThreadSanitizer sees, unlike the queue inside the Qt library); one queued
// call without arguments wakes the GUI thread to run them in order.
#pragma once

#include <functional>

void gui_post(std::function<void()> f);
