#pragma once

// 1 while a batch may go on to its next address, 0 once Stop was pressed.
extern int RunFlag;

// The step of every wait for a page, in milliseconds. The product always waits whole seconds; only
// a test build of the program links a shorter step in.
extern int g_waitStepMilliseconds;
