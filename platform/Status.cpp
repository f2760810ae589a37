#include <cstring>

#include "SupportDefs.h"

const char* status_text(status_t status) {
  switch (status) {
    case B_OK: return "no error";
    case B_ERROR: return "general error";
    case B_NO_INIT: return "not initialised";
    case B_NAME_NOT_FOUND: return "name not found";
    case B_BAD_TYPE: return "bad type";
    case B_BAD_INDEX: return "index out of range";
    case B_BAD_DATA: return "damaged data";
    case B_MISMATCHED_VALUES: return "mismatched values";
    case B_DOCUMENT_ENCRYPTED: return "encrypted document";
    case B_DOCUMENT_TOO_BIG: return "document over the extraction limits";
    case B_NO_EXTRACTOR: return "no text extractor installed (pdftotext, from poppler-utils)";
    default: return status < 0 && status > kOwnCodeBase ? strerror(-status) : "unknown error";
  }
}
