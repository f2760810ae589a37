// Writes the benchmark corpora: deterministic ASCII text from a fixed vocabulary, every file
// typed text/plain through the platform's SetType so that all the compared programs read the
// same files.
//
//   bench-corpus small FOLDER   33,000 files of 0.5 to 20 KB in 330 folders (about 350 MB)
//   bench-corpus large FOLDER   8 files of 128 MiB
//   bench-corpus untyped FOLDER 100,000 files of 0.5 to 4 KB in 1,000 folders, with no
//                               extension and no type attribute: typed by their content
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "platform/File.h"
#include "platform/NodeInfo.h"

namespace {

const char* const kWords[] = {
    "the", "of", "and", "to", "in", "is", "for", "that", "with", "on", "as", "by", "this", "be",
    "are", "from", "or", "an", "at", "which", "value", "return", "int", "const", "char", "void",
    "static", "if", "else", "while", "for", "struct", "class", "public", "private", "template",
    "include", "define", "buffer", "length", "index", "result", "error", "status", "file",
    "folder", "search", "text", "pattern", "block", "match", "list", "item", "window", "menu",
    "message", "field", "type", "name", "path", "entry", "node", "read", "write", "open",
    "close", "size", "count", "first", "last", "next", "previous", "begin", "end", "Hello",
    "World", "Quick", "Brown", "Fox", "Jumps", "Over", "Lazy", "Dog", "ALPHA", "BETA", "GAMMA",
    "delta", "epsilon", "zeta", "theta", "lambda", "omega", "{", "}", "(", ")", ";", "=", "+",
    "->", "::", "0", "1", "42", "1024", "0x7f", "//", "/*", "*/", "#", "<", ">", "&&", "||",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

// A small linear congruential generator: the same corpus on every machine.
struct Random {
  uint64_t state;
  uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(state >> 33);
  }
};

std::string make_text(Random& random, size_t size) {
  std::string text;
  text.reserve(size + 64);
  size_t line = 0;
  while (text.size() < size) {
    const char* word = kWords[random.Next() % kWordCount];
    text += word;
    line += strlen(word) + 1;
    if (line > 60 + random.Next() % 30) {
      text += '\n';
      line = 0;
    } else {
      text += ' ';
    }
  }
  text.resize(size);
  return text;
}

bool write_typed(const std::string& path, const std::string& content) {
  BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
  BNodeInfo info(&file);
  return file.Write(content.data(), content.size()) == ssize_t(content.size()) &&
         info.SetType("text/plain") == B_OK;
}

// Folders top0..top(tops-1), each with mid0..mid9, each with 100 files that write(folder, f)
// makes; 0 when all were written.
template <typename Write>
int make_folders(const std::string& root, const std::string& top, const std::string& mid, int tops,
                 Write write) {
  for (int t = 0; t < tops; ++t) {
    std::string a = root + "/" + top + std::to_string(t);
    mkdir(a.c_str(), 0755);
    for (int m = 0; m < 10; ++m) {
      std::string b = a + "/" + mid + std::to_string(m);
      mkdir(b.c_str(), 0755);
      for (int f = 0; f < 100; ++f)
        if (!write(b, f)) return 1;
    }
  }
  return 0;
}

int make_small(const std::string& root) {
  Random random{1};
  return make_folders(root, "a", "b", 33, [&](const std::string& folder, int f) {
    return write_typed(folder + "/file" + std::to_string(f) + ".txt", make_text(random, 500 + random.Next() % 20500));
  });
}

int make_untyped(const std::string& root) {
  Random random{3};
  return make_folders(root, "u", "v", 100, [&](const std::string& folder, int f) {
    std::string text = make_text(random, 500 + random.Next() % 3500);
    BFile file((folder + "/notes" + std::to_string(f)).c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    return file.Write(text.data(), text.size()) == ssize_t(text.size());
  });
}

int make_large(const std::string& root) {
  Random random{2};
  for (int f = 0; f < 8; ++f) {
    std::string path = root + "/large" + std::to_string(f) + ".txt";
    // Written in 1 MiB pieces of generated text.
    BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    for (int piece = 0; piece < 128; ++piece) {
      std::string text = make_text(random, 1 << 20);
      if (file.Write(text.data(), text.size()) != ssize_t(text.size())) return 1;
    }
    BNodeInfo info(&file);
    if (info.SetType("text/plain") != B_OK) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string kind = argc == 3 ? argv[1] : "";
  if (kind != "small" && kind != "large" && kind != "untyped") {
    fputs("usage: bench-corpus small|large|untyped FOLDER\n", stderr);
    return 2;
  }
  mkdir(argv[2], 0755);
  int status = kind == "small" ? make_small(argv[2]) : kind == "large" ? make_large(argv[2]) : make_untyped(argv[2]);
  if (status != 0) fprintf(stderr, "bench-corpus: could not write under %s\n", argv[2]);
  return status;
}
