// Documents searched by their text: real documents written by pandoc, groff with ghostscript,
// openpyxl and odfpy; damaged and hostile ones; the text cache.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "TempTree.h"
#include "platform/Directory.h"
#include "platform/Path.h"
#include "search/BlockScanner.h"
#include "search/DocumentPhrase.h"
#include "search/Documents.h"
#include "search/Engine.h"
#include "search/MatchLine.h"
#include "search/TextCache.h"

namespace {

void run(const std::string& command) { ASSERT_EQ(system(command.c_str()), 0) << command; }

std::string shell_quoted(const std::string& s) { return "'" + s + "'"; }

// What a search of the document types found: matching names in walk order, and the files it
// could not read with the reason.
struct Found : SearchSink {
  std::vector<std::string> matches;
  std::map<std::string, status_t> unreadable;
  SearchOutcome outcome;
  void Matched(entry_ref&& ref) override { matches.emplace_back(ref.name); }
  void Unreadable(entry_ref&& ref, status_t why) override { unreadable[ref.name] = why; }
};

std::unique_ptr<Found> search(const std::string& folder, const std::string& text, SearchOptions options = {}) {
  auto found = std::make_unique<Found>();
  BDirectory dir(folder.c_str());
  BList strings;
  std::string needle = text;
  strings.AddItem(needle.data());
  found->outcome = search_folder(dir, TypeSet(document_type_names()), SearchStrings(strings), *found, options);
  std::sort(found->matches.begin(), found->matches.end());
  return found;
}

std::vector<std::string> names(std::initializer_list<const char*> list) {
  std::vector<std::string> all(list.begin(), list.end());
  std::sort(all.begin(), all.end());
  return all;
}

// The planted phrases: each where a reader sees it whole and a byte scan or a naive extractor
// does not. "full" documents hold them all; "part" documents only the bold and non-ASCII ones.
const char kFullMarkdown[] =
    "# Harbour notes\n\n"
    "The pilot waits at the harbour\\\nlighthouse after dark.\n\n"
    "The quick **brown** fox and the *lazy* dog.\n\n"
    "The \xEF\xAC\x81nancial o\xEF\xAC\x83\x63\x65r signs.\n\n"  // ﬁnancial oﬃcer
    "An extra\xC2\xAD\x6Frdinary day in Z\xC3\xBCrich.\n\n"       // soft hyphen; Zürich
    "| alpha | beta |\n|---|---|\n| gamma | delta |\n";
const char kPartMarkdown[] = "# Other\n\nThe quick **brown** fox.\n\nA day in Z\xC3\xBCrich.\n";

// Typeset by groff, through ghostscript: every phrase crosses a line end the source forces.
const char kFullTroff[] =
    ".LP\nThe pilot waits at the harbour\n.br\nlighthouse after dark; this is well-\n.br\n"
    "known, and the incompre-\n.br\nhensibilities of the official effluent in Z\xC3\xBCrich.\n.bp\n"
    ".LP\nThe second page tells of the quick brown fox.\n";
const char kPartTroff[] = ".LP\nThe quick brown fox in Z\xC3\xBCrich, with no harbour.\n";

// A workbook and a spreadsheet, a presentation: each holds the phrases in one cell or frame,
// and alpha and beta in cells side by side.
const char kSheets[] = R"(
import sys, openpyxl
from odf.opendocument import OpenDocumentSpreadsheet, OpenDocumentPresentation
from odf.table import Table, TableRow, TableCell
from odf.text import P
from odf.draw import Page, Frame, TextBox
from odf.style import MasterPage, PageLayout
out = sys.argv[1]
wb = openpyxl.Workbook(); ws = wb.active
ws.append(['The quick brown fox', 'alpha', 'beta', 12345]); ws.append(['Z\u00fcrich'])
wb.save(out + '/book.xlsx')
doc = OpenDocumentSpreadsheet(); table = Table(name='One')
for cells in (['The quick brown fox', 'alpha', 'beta'], ['Z\u00fcrich']):
    row = TableRow()
    for text in cells:
        cell = TableCell(); cell.addElement(P(text=text)); row.addElement(cell)
    table.addElement(row)
doc.spreadsheet.addElement(table); doc.save(out + '/sheet.ods')
doc = OpenDocumentPresentation(); layout = PageLayout(name='L'); doc.automaticstyles.addElement(layout)
master = MasterPage(name='M', pagelayoutname=layout); doc.masterstyles.addElement(master)
for text in ('The quick brown fox', 'alpha', 'beta in Z\u00fcrich'):
    page = Page(masterpagename=master); frame = Frame(width='10cm', height='2cm', x='1cm', y='1cm')
    box = TextBox(); box.addElement(P(text=text)); frame.addElement(box); page.addElement(frame)
    doc.presentation.addElement(page)
doc.save(out + '/slides.odp')
)";

// The documents are made once: the tools take a few seconds in all.
class RealDocuments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tree = new TempTree();
    const TempTree& t = *tree;
    t.file("src/full.md", kFullMarkdown, "");
    t.file("src/part.md", kPartMarkdown, "");
    t.file("src/full.ms", kFullTroff, "");
    t.file("src/part.ms", kPartTroff, "");
    t.file("src/sheets.py", kSheets, "");
    t.folder("docs");
    for (const char* format : {"docx", "odt", "epub", "pptx"})
      for (const char* name : {"full", "part"})
        run("pandoc --metadata title=T " + shell_quoted(t.path("src/" + std::string(name) + ".md")) + " -o " +
            shell_quoted(t.path("docs/" + std::string(name) + "." + format)));
    for (const char* name : {"full", "part"})
      run("groff -Kutf8 -ms -Tps " + shell_quoted(t.path("src/" + std::string(name) + ".ms")) + " | ps2pdf - " +
          shell_quoted(t.path("docs/" + std::string(name) + ".pdf")));
    run("/usr/bin/python3 " + shell_quoted(t.path("src/sheets.py")) + " " + shell_quoted(t.path("docs")));
    // The same text as a plain file, which no document search reads.
    t.file("docs/notes.txt", "The quick brown fox", "");
  }
  static void TearDownTestSuite() { delete tree; }
  void SetUp() override { home = std::make_unique<TempHome>(); }
  void TearDown() override { home.reset(); }

  static std::string docs() { return tree->path("docs"); }

  static TempTree* tree;
  std::unique_ptr<TempHome> home;
};

TempTree* RealDocuments::tree = nullptr;

TEST_F(RealDocuments, EachPlantedPhraseFindsExactlyTheDocumentsThatHoldIt) {
  const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
      // across a line end: a hard break in the word processors, a typeset line in the PDF
      {"harbour lighthouse", names({"full.docx", "full.odt", "full.epub", "full.pptx", "full.pdf"})},
      // a word broken by a hyphen at a line end, and a compound broken at its own hyphen
      {"incomprehensibilities", names({"full.pdf"})},
      {"well-known", names({"full.pdf"})},
      // a ligature glyph in the PDF, ligature characters in the others
      {"official effluent", names({"full.pdf"})},
      {"financial officer", names({"full.docx", "full.odt", "full.epub", "full.pptx"})},
      // a soft hyphen inside the word
      {"extraordinary", names({"full.docx", "full.odt", "full.epub", "full.pptx"})},
      // a bold word inside the phrase, in every kind of document
      {"quick brown fox", names({"full.docx", "full.odt", "full.epub", "full.pptx", "full.pdf", "part.docx",
                                 "part.odt", "part.epub", "part.pptx", "part.pdf", "book.xlsx", "sheet.ods",
                                 "slides.odp"})},
      // a letter beyond ASCII, in another case
      {"Z\xC3\x9CRICH", names({"full.docx", "full.odt", "full.epub", "full.pptx", "full.pdf", "part.docx",
                               "part.odt", "part.epub", "part.pptx", "part.pdf", "book.xlsx", "sheet.ods",
                               "slides.odp"})},
      // cells, paragraphs and slides are apart: no phrase runs from one into the next
      {"alpha beta", {}},
      {"dark. The quick", {}},
      {"dark.The quick", {}},  // paragraphs joined with nothing between them
      {"harbour notes the pilot", {}},
      // a shared string's number in a sheet is no text
      {"lighthouse", names({"full.docx", "full.odt", "full.epub", "full.pptx", "full.pdf"})},
      {"xylophone", {}},
  };
  for (const auto& [phrase, expected] : cases) {
    auto found = search(docs(), phrase);
    EXPECT_EQ(found->matches, expected) << phrase;
    EXPECT_TRUE(found->unreadable.empty()) << phrase;
  }
}

TEST_F(RealDocuments, TheLineShownIsTheParagraphWithItsPage) {
  MatchLine line;
  ASSERT_EQ(f_match_line(tree->path("docs/full.pdf").c_str(), "quick brown", 1 << 20, &line), MatchLineStatus::kFound);
  EXPECT_EQ(line.page, 2);
  EXPECT_EQ(line.match, "quick brown");
  ASSERT_EQ(f_match_line(tree->path("docs/full.pdf").c_str(), "incomprehensibilities", 1 << 20, &line),
            MatchLineStatus::kFound);
  EXPECT_EQ(line.page, 1);
  EXPECT_NE(line.before.find("the "), std::string::npos);
  ASSERT_EQ(f_match_line(tree->path("docs/full.docx").c_str(), "BROWN FOX", 1 << 20, &line), MatchLineStatus::kFound);
  EXPECT_EQ(line.page, 0);
  EXPECT_EQ(line.before + line.match + line.after, "The quick brown fox and the lazy dog.");
  EXPECT_EQ(line.match, "brown fox");
}

// A fork of a started pdftotext reads each PDF as a pdftotext started for it does, one after
// another from the same server, and with forks turned off each starts its own.
TEST_F(RealDocuments, AForkOfAStartedPdftotextReadsAsAFreshOneDoes) {
  std::vector<std::string> pdfs;
  for (const char* name : {"full", "part", "full", "part"}) pdfs.push_back(tree->path("docs/" + std::string(name) + ".pdf"));
  for (const char* forksOn : {"1", "0"}) {
    setenv("TARNWICKLOFT_PDF_FORKS", forksOn, 1);
    PdfForks forks(pdf_extractor_path());
    for (const std::string& pdf : pdfs) {
      int fd = open(pdf.c_str(), O_RDONLY | O_CLOEXEC);
      std::string forked, fresh;
      EXPECT_EQ(forks.Extract(fd, DocumentLimits(), nullptr, &forked), B_OK) << pdf;
      EXPECT_EQ(extract_pdf_text(pdf_extractor_path(), fd, DocumentLimits(), nullptr, &fresh), B_OK);
      EXPECT_EQ(forked, fresh) << pdf;
      EXPECT_NE(forked.find('\f'), std::string::npos) << pdf;
      close(fd);
    }
    EXPECT_EQ(forks.Forked(), forksOn[0] == '1' ? int64(pdfs.size()) : 0) << "forks " << forksOn;
  }
  unsetenv("TARNWICKLOFT_PDF_FORKS");
}

TEST_F(RealDocuments, ASecondSearchReadsNoDocumentAndAChangeIsSeen) {
  auto first = search(docs(), "quick brown fox");
  EXPECT_EQ(first->outcome.documentsExtracted, 13);
  auto second = search(docs(), "quick brown fox");
  EXPECT_EQ(second->outcome.documentsExtracted, 0);
  EXPECT_EQ(second->outcome.documentsFromCache, 13);
  EXPECT_EQ(second->matches, first->matches);
  // The cache's folder and entries are the user's alone.
  struct stat st;
  ASSERT_EQ(stat(TextCache::DefaultFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Without the cache, every document is read again.
  SearchOptions uncached;
  uncached.documentCache = false;
  EXPECT_EQ(search(docs(), "quick brown fox", uncached)->outcome.documentsExtracted, 13);
}

TEST_F(RealDocuments, TwoSearchesFillingTheCacheAtOnceLeaveWholeEntries) {
  std::unique_ptr<Found> one, two;
  std::thread other([&] { two = search(docs(), "lighthouse"); });
  one = search(docs(), "lighthouse");
  other.join();
  EXPECT_EQ(one->matches, two->matches);
  auto third = search(docs(), "lighthouse");
  EXPECT_EQ(third->outcome.documentsExtracted, 0);
  EXPECT_EQ(third->matches, one->matches);
  // No temporary is left beside the entries.
  for (BDirectory dir(TextCache::DefaultFolder().c_str());;) {
    char name[B_FILE_NAME_LENGTH];
    BEntry entry;
    if (dir.GetNextEntry(&entry) != B_OK) break;
    entry.GetName(name);
    EXPECT_NE(std::string(name).find(".text"), std::string::npos) << name;
  }
}

// A zip bomb, an XML part that declares entities (a billion laughs) and one nested past any
// document's depth.
const char kHostile[] = R"(
import zipfile, sys
out = sys.argv[1]
z = zipfile.ZipFile(out + '/bomb.docx', 'w', zipfile.ZIP_DEFLATED)
z.writestr('word/document.xml', ' ' * (64 << 20))
z.close()
lol = '<!DOCTYPE d [<!ENTITY a "brown">' + ''.join(
    '<!ENTITY %s "%s">' % (chr(98 + i), ('&' + chr(97 + i) + ';') * 10) for i in range(9)) + ']>'
z = zipfile.ZipFile(out + '/laughs.odt', 'w', zipfile.ZIP_DEFLATED)
z.writestr('content.xml', lol + '<d><p>&j; quick brown fox</p></d>')
z.close()
z = zipfile.ZipFile(out + '/deep.odt', 'w', zipfile.ZIP_DEFLATED)
z.writestr('content.xml', '<p>' * 100000 + 'quick brown fox')
z.close()
)";

// The documents of the damaged set, made from good ones.
class DamagedDocuments : public RealDocuments {
 protected:
  void SetUp() override {
    RealDocuments::SetUp();
    std::string good = read_file(tree->path("docs/full.pdf"));
    std::string docx = read_file(tree->path("docs/full.docx"));
    bad.file("good.pdf", good, "");
    bad.file("good.docx", docx, "");
    bad.file("cut.pdf", good.substr(0, 300), "");
    bad.file("cut.docx", docx.substr(0, docx.size() / 2), "");
    std::string flipped = good;
    for (size_t i = flipped.size() / 3; i < flipped.size() / 3 + 200; i += 7) flipped[i] ^= 0x55;
    bad.file("flipped.pdf", flipped, "");
    run("qpdf --encrypt secret secret 256 -- " + shell_quoted(tree->path("docs/full.pdf")) + " " +
        shell_quoted(bad.path("locked.pdf")));
    // A zip bomb and an XML part that declares entities, and one nested past any document.
    std::string script = bad.file("hostile.py", kHostile, "");
    run("/usr/bin/python3 " + shell_quoted(script) + " " + shell_quoted(bad.root()));
    unlink(script.c_str());
  }
  TempTree bad;
};

TEST_F(DamagedDocuments, EachIsNamedWithItsReasonAndTheGoodOnesAreFound) {
  auto started = std::chrono::steady_clock::now();
  auto found = search(bad.root(), "quick brown fox");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  // The bit flips leave pdftotext enough to read: it may find the phrase there or not.
  std::erase(found->matches, "flipped.pdf");
  EXPECT_EQ(found->matches, names({"good.docx", "good.pdf"}));
  EXPECT_EQ(found->unreadable, (std::map<std::string, status_t>{{"cut.pdf", B_BAD_DATA},
                                                                {"cut.docx", B_BAD_DATA},
                                                                {"locked.pdf", B_DOCUMENT_ENCRYPTED},
                                                                {"bomb.docx", B_DOCUMENT_TOO_BIG},
                                                                {"laughs.odt", B_BAD_DATA},
                                                                {"deep.odt", B_BAD_DATA}}))
      << bad.Listing();
  EXPECT_EQ(found->outcome.unreadable, 6);
  // The failures are remembered: the next search costs nothing and says the same.
  auto again = search(bad.root(), "quick brown fox");
  EXPECT_EQ(again->outcome.documentsExtracted, 0);
  EXPECT_EQ(again->unreadable, found->unreadable);
  std::erase(again->matches, "flipped.pdf");
  EXPECT_EQ(again->matches, found->matches);
}

// A stand-in for pdftotext, for what the real one cannot be made to do on demand.
class StandInExtractor : public DamagedDocuments {
 protected:
  void Use(const std::string& script) {
    std::string path = bad.file("bin/pdftotext", "#!/bin/sh\n" + script, "");
    chmod(path.c_str(), 0755);
    setenv("TARNWICKLOFT_PDFTOTEXT", path.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("TARNWICKLOFT_PDFTOTEXT");
    DamagedDocuments::TearDown();
  }
  // Whether the process whose number the stand-in wrote is gone.
  bool Gone(const std::string& pidFile) {
    pid_t pid = pid_t(atoi(read_file(pidFile).c_str()));
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
  }
};

TEST_F(StandInExtractor, OneThatHangsIsKilledAtItsTimeAndWhenTheSearchStops) {
  std::string pids = bad.path("pid");
  Use("echo $$ > '" + pids + "'\nexec sleep 60\n");
  SearchOptions options;
  options.documentLimits.time = std::chrono::milliseconds(500);
  options.threads = 1;
  auto started = std::chrono::steady_clock::now();
  auto found = search(bad.root(), "quick brown fox", options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(found->unreadable.at("good.pdf"), B_TIMED_OUT);
  EXPECT_EQ(found->matches, names({"good.docx"}));
  EXPECT_TRUE(Gone(pids));

  // A stopped search kills its extractor at once, whatever its time limit.
  unlink(pids.c_str());
  SearchOptions stoppable;
  std::atomic<bool> stop{false};
  stoppable.stop = &stop;
  stoppable.documentCache = false;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  started = std::chrono::steady_clock::now();
  auto stopped = search(bad.root(), "quick brown fox", stoppable);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  stopper.join();
  EXPECT_EQ(stopped->outcome.incomplete, B_CANCELED);
  for (const auto& [name, why] : stopped->unreadable)  // the zip packages fail on their own
    EXPECT_EQ(name.find(".pdf"), std::string::npos) << name << ": " << status_text(why);
  EXPECT_TRUE(Gone(pids));
}

TEST_F(StandInExtractor, ARewriteKeepingTheSizeAndTimesIsSeen) {
  Use("cat \"$4\"\n");  // the document's bytes are its text
  std::string pdf = bad.file("new/paper.pdf", "%PDF- the quick brown fox", "");
  EXPECT_EQ(search(bad.path("new"), "brown fox")->matches, names({"paper.pdf"}));
  struct stat before;
  ASSERT_EQ(stat(pdf.c_str(), &before), 0);
  std::ofstream(pdf, std::ios::binary | std::ios::trunc) << "%PDF- the quick amber cat";
  timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, pdf.c_str(), times, 0), 0);  // as a copy that keeps times leaves it
  EXPECT_EQ(search(bad.path("new"), "amber cat")->matches, names({"paper.pdf"}));
  EXPECT_TRUE(search(bad.path("new"), "brown fox")->matches.empty());
}

TEST_F(StandInExtractor, ItRunsWithinTheMemoryAndTimeLimitsAndReadsTheDocumentFromItsDescriptor) {
  // The stand-in prints its limits and the first bytes of the document it was given.
  Use("echo \"memory $(ulimit -v) cpu $(ulimit -t)\"; head -c 5 \"$4\"\n");
  SearchOptions options;
  options.documentCache = false;
  auto pdfs = names({"cut.pdf", "flipped.pdf", "good.pdf", "locked.pdf"});
  EXPECT_EQ(search(bad.root(), "memory 1048576 cpu 11", options)->matches, pdfs);
  EXPECT_EQ(search(bad.root(), "cpu 11 %PDF-", options)->matches, pdfs);
}

TEST(DocumentPhrase, TextIsReadAsAReaderSeesIt) {
  struct Case {
    const char* raw;
    const char* text;
    std::vector<size_t> hyphens;
  };
  const Case cases[] = {
      {"two  words\tand\r\na line end", "two words and a line end\n", {}},
      {"one paragraph\n\nanother\n \n\n third", "one paragraph\nanother\nthird\n", {}},
      {"page one\n\fpage two\f", "page one\fpage two\f", {}},
      {"hyphen-\nated and well-\nknown", "hyphen-ated and well-known\n", {6, 20}},
      {"a dash -\nnot a hyphen, x-\n2, end-\n\nof paragraph", "a dash - not a hyphen, x- 2, end-\nof paragraph\n", {}},
      {"end of page\n\f", "end of page\f", {}},
      {"\xEF\xAC\x80 \xEF\xAC\x81 \xEF\xAC\x82 \xEF\xAC\x83 \xEF\xAC\x84 \xEF\xAC\x85 \xEF\xAC\x86",
       "ff fi fl ffi ffl st st\n", {}},
      {"soft\xC2\xADhyphen zero\xE2\x80\x8Bwidth", "softhyphen zerowidth\n", {}},
      {"no\xC2\xA0" "break\xE2\x80\x83" "em", "no break em\n", {}},
      {"  \n\n", "", {}},
      {"\xFF\xFE bytes \xC3", "\xFF\xFE bytes \xC3\n", {}},
  };
  for (const Case& c : cases) {
    DocumentText text = normalise_document_text(c.raw);
    EXPECT_EQ(text.text, c.text) << c.raw;
    EXPECT_EQ(text.lineEndHyphens, c.hyphens) << c.raw;
  }
}

TEST(DocumentPhrase, AJoinedWordIsFoundWithAndWithoutItsHyphen) {
  DocumentText text = normalise_document_text("the incompre-\nhensible and well-\nknown facts");
  auto contains = [&](std::string needle) {
    BList strings;
    strings.AddItem(needle.data());
    return document_contains(text, SearchStrings(strings));
  };
  EXPECT_TRUE(contains("incomprehensible"));
  EXPECT_TRUE(contains("well-known"));
  EXPECT_TRUE(contains("WELLKNOWN"));  // both readings are searched
  EXPECT_FALSE(contains("incompre hensible"));
  std::string paragraph;
  size_t at = 0;
  int page = 0;
  ASSERT_TRUE(document_paragraph_with(text, "incomprehensible", &paragraph, &at, &page));
  EXPECT_EQ(paragraph.substr(at, 16), "incomprehensible");
}

// Entries of a fixed size, each for a file of its own.
struct stat fake_file(int i) {
  struct stat st{};
  st.st_dev = 1;
  st.st_ino = ino_t(1000 + i);
  st.st_size = 10;
  return st;
}

DocumentText random_text(int seed, size_t size) {
  DocumentText text;
  srand(unsigned(seed));
  for (size_t i = 0; i < size; ++i) text.text += char('a' + rand() % 26);  // compresses little
  return text;
}

// The cache's files, by name.
std::set<std::string> entries_in(const std::string& folder) {
  std::set<std::string> entries;
  for (BDirectory dir(folder.c_str());;) {
    BEntry entry;
    BPath path;
    if (dir.GetNextEntry(&entry) != B_OK) break;
    entry.GetPath(&path);
    entries.insert(path.Path());
  }
  return entries;
}

TEST(TextCacheTest, DamagedEntriesAreIgnoredAndTheBoundKeepsTheRecentlyUsed) {
  TempHome home;
  std::string folder = home.tree().path(".cache/tarnwickloft");
  TextCache cache(folder, 1 << 20, "pdftotext 1");
  std::vector<std::string> byFile;  // the entry of each file, found as the one its store added
  for (int i = 0; i < 10; ++i) {
    std::set<std::string> before = entries_in(folder);
    cache.Store(fake_file(i), DocumentKind::kPdf, random_text(i, 8000));
    for (const std::string& entry : entries_in(folder))
      if (before.count(entry) == 0) byFile.push_back(entry);
    ASSERT_EQ(byFile.size(), size_t(i + 1));
  }
  DocumentText text;
  status_t failure;
  ASSERT_TRUE(cache.Load(fake_file(3), DocumentKind::kPdf, &text, &failure));
  EXPECT_EQ(text.text, random_text(3, 8000).text);
  // Another extractor, another kind, another change time: no entry.
  EXPECT_FALSE(TextCache(folder, 1 << 20, "pdftotext 2").Load(fake_file(3), DocumentKind::kPdf, &text, &failure));
  EXPECT_FALSE(cache.Load(fake_file(3), DocumentKind::kEpub, &text, &failure));
  struct stat changed = fake_file(3);
  changed.st_ctim.tv_nsec = 1;
  EXPECT_FALSE(cache.Load(changed, DocumentKind::kPdf, &text, &failure));

  // Every entry is its own user's, and a flipped byte anywhere makes it no entry.
  off_t largest = 0;
  for (const std::string& entry : byFile) {
    struct stat st;
    ASSERT_EQ(stat(entry.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    largest = std::max(largest, st.st_size);
  }
  std::string bytes = read_file(byFile[0]);
  for (size_t at : {size_t(3), size_t(40), size_t(60), bytes.size() / 2, bytes.size() - 1}) {
    std::string damaged = bytes;
    damaged[at] ^= 0x10;
    std::ofstream(byFile[0], std::ios::binary | std::ios::trunc) << damaged;
    EXPECT_FALSE(cache.Load(fake_file(0), DocumentKind::kPdf, &text, &failure)) << "byte " << at;
  }
  std::ofstream(byFile[0], std::ios::binary | std::ios::trunc) << bytes.substr(0, bytes.size() - 1);
  EXPECT_FALSE(cache.Load(fake_file(0), DocumentKind::kPdf, &text, &failure)) << "cut short";
  std::ofstream(byFile[0], std::ios::binary | std::ios::trunc) << bytes;
  EXPECT_TRUE(cache.Load(fake_file(0), DocumentKind::kPdf, &text, &failure));

  // Over the bound, the least recently used go. The entries are made old in the order they
  // were stored, then entry 3 is read, which makes it the most recently used where reads set
  // access times.
  for (int i = 0; i < 10; ++i) {
    timespec old[2] = {{1000 + i, 0}, {1000 + i, 0}};
    utimensat(AT_FDCWD, byFile[size_t(i)].c_str(), old, 0);
  }
  ASSERT_TRUE(cache.Load(fake_file(3), DocumentKind::kPdf, &text, &failure));
  struct stat read3;
  stat(byFile[3].c_str(), &read3);
  bool readsSetAccessTimes = read3.st_atime != 1003;
  TextCache(folder, uint64_t(4 * largest + largest / 2), "pdftotext 1").Trim();
  std::vector<int> kept;
  for (int i = 0; i < 10; ++i)
    if (cache.Load(fake_file(i), DocumentKind::kPdf, &text, &failure)) kept.push_back(i);
  std::vector<int> expected = readsSetAccessTimes ? std::vector<int>{3, 7, 8, 9} : std::vector<int>{6, 7, 8, 9};
  EXPECT_EQ(kept, expected);
}

}  // namespace
