// Calls from any thread into the user-interface thread.
//
// UiCall_Send runs a function on the user-interface thread and waits for its
// result, as a window message sent from another thread waits for the window's
// procedure: the request is posted to the UI thread's event loop (any running
// loop handles it, nested modal loops included) and the caller sleeps on a
// mutex and condition variable of its own, so ThreadSanitizer sees the order
// of everything done before and after. On the UI thread itself the function is
// simply called.
//
// UiCall_Post queues a function for the UI thread and returns at once; queued
// functions run in the order they were posted.
//
// UiCall_Init must run once on the user-interface thread before any other
// thread calls in (the dialog layer and the message-box window call it).
#pragma once

#include <cstdint>
#include <functional>

// Makes the receiver of calls on the current thread, which becomes the
// user-interface thread. Later calls do nothing.
void UiCall_Init();

// True on the user-interface thread (false before UiCall_Init).
bool UiCall_OnUiThread();

// Runs fn on the user-interface thread and returns its result once it has
// returned. fn may end the process; the caller then never resumes.
intptr_t UiCall_Send(const std::function<intptr_t()>& fn);

// Queues fn to run on the user-interface thread.
void UiCall_Post(std::function<void()> fn);
