#!/usr/bin/python3
"""Writes the sources of the document corpus: COUNT Markdown files (for pandoc to make .docx,
.odt and .epub) and COUNT troff files (for groff and ghostscript to make PDFs), each of a few
pages of words from a fixed vocabulary and seed, with the planted phrases:

  "harbour lighthouse"      across a line end: a hard line break, a typeset line in the PDFs
  "quick brown fox"         with "brown" bold (its own formatting run)
  "incomprehensibilities"   in the PDFs, hyphenated at a line end the source forces
  "zebra quartz"            nowhere (the control)

Usage: make_documents.py FOLDER COUNT
"""
import os
import random
import sys

WORDS = ("time year people way day man thing woman life child world school state family "
         "student group country problem hand part place case week company system program "
         "question work government number night point home water room mother area money "
         "story fact month lot right study book eye job word business issue side kind head "
         "house service friend father power hour game line end member law car city community "
         "name president team minute idea kid body information back parent face others level "
         "office door health person art war history party result change morning reason research").split()


def paragraph(rng, words):
    return " ".join(rng.choice(WORDS) for _ in range(words)).capitalize() + "."


def markdown(rng, index):
    parts = [f"# Report {index}\n"]
    for p in range(12):
        parts.append(paragraph(rng, 60))
        if p == 4:
            parts.append(f"The pilot waits at the harbour\\\nlighthouse, report {index}.")
        if p == 8:
            parts.append("Then the quick **brown** fox ran.")
    return "\n\n".join(parts) + "\n"


def troff(rng, index):
    lines = [".LP"]
    for p in range(12):
        lines.append(paragraph(rng, 60))
        if p == 4:
            lines += ["The pilot waits at the harbour", ".br", f"lighthouse, report {index}, and the incompre-",
                      ".br", "hensibilities of it."]
        if p == 8:
            lines.append("Then the quick \\fBbrown\\fP fox ran.")
        lines.append(".LP")
    return "\n".join(lines) + "\n"


def main():
    folder, count = sys.argv[1], int(sys.argv[2])
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261209)
    for i in range(count):
        with open(os.path.join(folder, f"doc{i:04d}.md"), "w", encoding="utf-8") as out:
            out.write(markdown(rng, i))
        with open(os.path.join(folder, f"doc{i:04d}.ms"), "w", encoding="utf-8") as out:
            out.write(troff(rng, i))


if __name__ == "__main__":
    main()
