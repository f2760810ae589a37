// The command-line search: the engine's walk run from a terminal, with the matches printed one
// per line in the order the walk found them.
#pragma once

#include <cstdio>

// Runs the command with main's arguments, printing to out and err. Returns the exit status:
// 0 when a file matched, 1 when none did, 2 on an error.
int run_find_command(int argc, char** argv, FILE* out, FILE* err);
