#include "ResourceDef.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <map>

#include "platform/Message.h"

namespace {

// A hand-written recursive-descent reader of the small language described at the top of
// resources/Tarnwickloft.rdef. Numbers are read with from_chars, the same in every locale.
class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseFile(std::vector<BResources::Entry>* entries, std::string* error) {
    SkipSpace();
    while (pos_ < text_.size() && error_.empty()) {
      BResources::Entry entry;
      if (!ParseResource(&entry)) break;
      entries->push_back(std::move(entry));
      SkipSpace();
    }
    if (error_.empty()) return true;
    *error = "line " + std::to_string(line_) + ": " + error_;
    return false;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
  }

  void SkipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (isspace(static_cast<unsigned char>(c))) {
        if (c == '\n') ++line_;
        ++pos_;
      } else {
        break;
      }
    }
  }

  bool Peek(char c) {
    SkipSpace();
    return pos_ < text_.size() && text_[pos_] == c;
  }

  bool Expect(char c) {
    if (!Peek(c)) return Fail(std::string("expected '") + c + "'");
    ++pos_;
    return true;
  }

  bool Word(std::string* word) {
    SkipSpace();
    size_t start = pos_;
    while (pos_ < text_.size() && (isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
      ++pos_;
    *word = text_.substr(start, pos_ - start);
    return !word->empty() || Fail("expected a word");
  }

  bool String(std::string* out) {
    if (!Expect('"')) return false;
    out->clear();
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\n') return Fail("line break inside a string");
      if (c == '\\' && pos_ < text_.size()) {
        char e = text_[pos_++];
        if (e == 'n') c = '\n';
        else if (e == 't') c = '\t';
        else if (e == 'x' && pos_ + 2 <= text_.size()) {
          int value = 0;
          if (std::from_chars(text_.data() + pos_, text_.data() + pos_ + 2, value, 16).ptr !=
              text_.data() + pos_ + 2)
            return Fail("bad \\x escape");
          c = char(value);
          pos_ += 2;
        } else c = e;
      }
      out->push_back(c);
    }
    return Expect('"');
  }

  // An integer: decimal, 0x hexadecimal, or a four-character code in single quotes.
  bool Integer(int64_t* value) {
    SkipSpace();
    if (Peek('\'')) {
      ++pos_;
      if (pos_ + 5 > text_.size() || text_[pos_ + 4] != '\'') return Fail("a code has four characters");
      char code[5] = {text_[pos_], text_[pos_ + 1], text_[pos_ + 2], text_[pos_ + 3], 0};
      *value = four_cc(code);
      pos_ += 5;
      return true;
    }
    bool negative = Peek('-');
    if (negative) ++pos_;
    int base = 10;
    if (text_.compare(pos_, 2, "0x") == 0) {
      base = 16;
      pos_ += 2;
    }
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + text_.size(), magnitude, base);
    if (ec != std::errc()) return Fail("expected a number");
    pos_ = size_t(end - text_.data());
    *value = negative ? -int64_t(magnitude) : int64_t(magnitude);
    return true;
  }

  bool Real(double* value) {
    SkipSpace();
    auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + text_.size(), *value);
    if (ec != std::errc()) return Fail("expected a number");
    pos_ = size_t(end - text_.data());
    return true;
  }

  // "(" n, n, ... ")" with count numbers.
  bool Tuple(size_t count, double* out) {
    if (!Expect('(')) return false;
    for (size_t i = 0; i < count; ++i)
      if ((i > 0 && !Expect(',')) || !Real(&out[i])) return false;
    return Expect(')');
  }

  bool Message(BMessage* message) {
    int64_t what;
    if (!Integer(&what)) return false;
    *message = BMessage(uint32(what));
    if (!Peek('{')) return true;
    ++pos_;
    while (!Peek('}')) {
      if (pos_ >= text_.size()) return Fail("unclosed message");
      if (!Field(message)) return false;
    }
    return Expect('}');
  }

  bool Field(BMessage* message) {
    std::string type, name;
    if (!Word(&type) || !String(&name) || !Expect('=')) return false;
    do {
      if (!Value(type, name.c_str(), message)) return false;
    } while (Peek(',') && ++pos_);
    return true;
  }

  bool Check(status_t status) { return status == B_OK || Fail("field of two types"); }

  bool Value(const std::string& type, const char* name, BMessage* message) {
    std::string text;
    int64_t integer;
    double real, tuple[4];
    BMessage inner;
    if (type == "string") return String(&text) && Check(message->AddString(name, text.c_str()));
    if (type == "int32") return Integer(&integer) && Check(message->AddInt32(name, int32(integer)));
    if (type == "int64") return Integer(&integer) && Check(message->AddInt64(name, integer));
    if (type == "float") return Real(&real) && Check(message->AddFloat(name, float(real)));
    if (type == "double") return Real(&real) && Check(message->AddDouble(name, real));
    if (type == "bool") {
      if (!Word(&text) || (text != "true" && text != "false")) return Fail("expected true or false");
      return Check(message->AddBool(name, text == "true"));
    }
    if (type == "rect")
      return Tuple(4, tuple) &&
             Check(message->AddRect(name, BRect(float(tuple[0]), float(tuple[1]), float(tuple[2]),
                                                float(tuple[3]))));
    if (type == "point")
      return Tuple(2, tuple) && Check(message->AddPoint(name, BPoint(float(tuple[0]), float(tuple[1]))));
    if (type == "color") {
      if (!Tuple(4, tuple)) return false;
      uint32_t rgba = 0;
      for (double part : tuple) rgba = (rgba << 8) | (uint32_t(part) & 0xff);
      return Check(message->AddInt32(name, int32(rgba)));
    }
    if (type == "message") return Message(&inner) && Check(message->AddMessage(name, &inner));
    if (type == "flat") {
      if (!Message(&inner)) return false;
      std::string bytes(size_t(inner.FlattenedSize()), '\0');
      inner.Flatten(bytes.data(), ssize_t(bytes.size()));
      return Check(message->AddData(name, B_RAW_TYPE, bytes.data(), ssize_t(bytes.size())));
    }
    return Fail("unknown field type '" + type + "'");
  }

  bool ParseResource(BResources::Entry* entry) {
    std::string keyword, kind;
    int64_t type, id;
    if (!Word(&keyword) || keyword != "resource") return Fail("expected 'resource'");
    if (!Integer(&type) || !Integer(&id) || !String(&entry->name) || !Expect('=') || !Word(&kind))
      return false;
    entry->type = type_code(type);
    entry->id = int32(id);
    int64_t integer;
    BMessage message;
    if (kind == "string") {
      if (!String(&entry->data)) return false;
      entry->data.push_back('\0');
    } else if (kind == "int32") {
      if (!Integer(&integer)) return false;
      for (int i = 0; i < 4; ++i) entry->data.push_back(char((uint64_t(integer) >> (8 * i)) & 0xff));
    } else if (kind == "message") {
      if (!Message(&message)) return false;
      entry->data.resize(size_t(message.FlattenedSize()));
      message.Flatten(entry->data.data(), ssize_t(entry->data.size()));
    } else {
      return Fail("unknown resource kind '" + kind + "'");
    }
    return true;
  }

  const std::string& text_;
  size_t pos_ = 0;
  int line_ = 1;
  std::string error_;
};

}  // namespace

bool parse_resource_definitions(const std::string& text, std::vector<BResources::Entry>* entries,
                                std::string* error) {
  return Parser(text).ParseFile(entries, error);
}
