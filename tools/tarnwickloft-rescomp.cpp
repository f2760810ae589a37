// Compiles resource definitions into a resource container file:
//   tarnwickloft-rescomp INPUT.rdef OUTPUT
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ResourceDef.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: tarnwickloft-rescomp INPUT.rdef OUTPUT\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    fprintf(stderr, "tarnwickloft-rescomp: cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  std::vector<BResources::Entry> entries;
  std::string error;
  if (!parse_resource_definitions(text.str(), &entries, &error)) {
    fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << BResources::Flatten(entries);
  if (!out.flush()) {
    fprintf(stderr, "tarnwickloft-rescomp: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
