// The walk through a list of type menu items, as the window's search runs it: the tests' way
// to call the engine with the window's list, and the type filter's literal rotation to
// compare the list's order with.
#pragma once

#include "platform/Directory.h"
#include "platform/List.h"

// Walks the folder depth first, pre-order, without following links, and appends a new
// entry_ref (the caller frees it) to results for every regular file whose type is in types
// (a BList of BMenuItem*, labels compared ignoring case) and whose content contains one of the
// strings. The list ends rotated as the window's search leaves it. Returns the number of refs
// appended; incomplete, when given, is set to B_OK or to why part of the tree was not walked.
int32 f_dirsearch_BMI(BDirectory& dir, BList& types, BList& results, BList& strings,
                      status_t* incomplete = nullptr);

// The type filter, step by step: true when the label of an item of types equals type,
// ignoring case. The items before the first such item move, in their order, to the end of
// the list, so the type just found comes first for the next file; without a match the list is
// unchanged.
bool f_check_MIME(char* type, BList& types);
