#pragma once

// Dispatches the UI thread's messages for ms milliseconds (a quit request is left queued) and
// sleeps whenever the queue is empty, until a message arrives or the time is up.
void WaitWithEvents(int ms);
