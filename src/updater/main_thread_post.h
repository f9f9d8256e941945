#pragma once
// Hands a function from a worker thread to the application's main thread.

#include <functional>

namespace corvane {

// Queues the function on the main thread's event loop; dropped when there is no application.
void postToMainThread(std::function<void()> fn);

}  // namespace corvane
