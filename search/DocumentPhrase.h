// A document's text as a reader sees it, ready for the search strings. Extractors give raw
// UTF-8 text: line ends where the layout broke lines, a blank line between paragraphs, cells
// and slides, a form feed between pages. Made ready here:
//  - a run of white space that holds at most one line end is one space, so a phrase broken by
//    a line end is found; a run with a blank line in it is a paragraph end ("\n"), a run with
//    a form feed a page end ("\f"): search text never spans either;
//  - a hyphen that ends a line between two letters joins the words: the text keeps the hyphen
//    ("well-known"), and a second reading without it is searched too ("hyphenated");
//  - the ligatures ff, fi, fl, ffi, ffl, long s t and st are their letters, and soft hyphens
//    and zero-width spaces are dropped.
#pragma once

#include <string>
#include <vector>

class SearchStrings;

struct DocumentText {
  std::string text;  // paragraphs end with "\n", pages with "\f"
  // Offsets in text of the hyphens that ended a line inside a word, in order.
  std::vector<size_t> lineEndHyphens;
};

// Normalises raw extracted text as described above.
DocumentText normalise_document_text(const std::string& raw);

// True when one of the strings occurs, letter case folded as in a file, in the text or, where
// a line-end hyphen joined two words, in the text without those hyphens.
bool document_contains(const DocumentText& document, const SearchStrings& strings);

// The paragraph of the first occurrence of needle (folded as the search folds), and the page
// it is on (counting form feeds from 1); false when there is none. A paragraph matched only
// with its line-end hyphens left out is given without them.
bool document_paragraph_with(const DocumentText& document, const std::string& needle, std::string* paragraph,
                             size_t* offsetInParagraph, int* page);
