// Textual types under their text/ names. The old system filed every textual format under
// text/; shared-mime-info files many under application/ (scripts, XML, JSON, YAML...) as
// subclasses of text/plain. Here a type is read by its text/ name whenever the database says
// it is textual, so that "text" means text:
//  - a text/ type keeps its name;
//  - a type that is a subclass of text/plain, through its sub-class-of chain, is named by its
//    text/ alias when the database has one (the alias without "x-" before one with it, then
//    the shorter, then the first in order: application/x-yaml is text/yaml), otherwise by
//    "text/" and its own subtype (application/json is text/json);
//  - every other type, binary ones above all, keeps its name.
// The table is built once per process from the MIME database folders' "types", "subclasses"
// and "aliases" files, which update-mime-database writes, never from a list in the code.
#pragma once

#include <string>
#include <vector>

// The name a type is read as; the type itself (as given) when it has no other.
std::string text_name_of(const char* type);
// Every text/ name: the text/ types and the names given to the other textual types, sorted.
const std::vector<std::string>& text_type_names();
// The database's own name for a type: a text/ name given here reads back as the type it
// names (text/json is application/json), an alias as its type; for asking the desktop which
// applications handle a file.
std::string database_type_of(const char* type);
// True when two types name the same type of the database: equal ignoring case, aliases of
// each other, or the same type by its text/ name.
bool same_mime_type(const char* a, const char* b);
