#pragma once
// The diagnostic log of the windowed program: the sink to the debugger output and standard output,
// and the console that the Ctrl key at start opens.

void InstallDebuggerLogSink();
void OpenConsole();
