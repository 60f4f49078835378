// The Japanese catalog of kavoconv's texts, compiled in: made from cli/po/ja.po by
// cli/po/po_table.py when the Windows build runs. The translations are UTF-8.
#ifndef KAVO_CATALOG_H
#define KAVO_CATALOG_H

#include <stddef.h>

struct CatalogEntry {
    const char *english;
    const char *translation;
};

// Sorted by the English texts' bytes (strcmp).
extern const CatalogEntry CATALOG[];
extern const size_t CATALOG_SIZE;

#endif
