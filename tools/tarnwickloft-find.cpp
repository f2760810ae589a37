#include "FindCommand.h"

int main(int argc, char** argv) { return run_find_command(argc, argv, stdout, stderr); }
