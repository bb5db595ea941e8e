#pragma once
// The terminal the command line draws on.

#include <cstddef>

// Columns of the terminal on standard output now; 80 when it cannot be read.
std::size_t StandardOutputColumns();

// Lets the console show UTF-8 text (on Windows it shows the console's code page otherwise).
void UseUtf8Console();
