#pragma once

// Runs the program: guards against a second running copy, then builds the application
// object, which runs everything. Returns the process exit code.
int runProgram(int argc, char** argv);
