// The mark of a header private to the storage engine (pages, B-trees, caches, the files behind
// a table, lock bytes, the record writer). Such a header begins by including this one, before
// its include guard, so the check runs at every inclusion:
//
//   - inside the storage engine, its own tests, benchmarks and fuzz targets, which are built
//     with MT_STORAGE_INTERNALS defined, it may be included anywhere;
//   - elsewhere it comes only through a public header that needs its types (datacursor.h,
//     datatable.h), which defines MT_STORAGE_THROUGH_PUBLIC around such includes.
//
// A direct include from another layer fails to compile. The public headers are the rest of
// engine/storage: the directory, tables, cursors, transactions, table definitions and
// layouts, records and field types, scans, filters, sorting, rebuilding and the checks.
#if !defined(MT_STORAGE_INTERNALS) && !defined(MT_STORAGE_THROUGH_PUBLIC)
#error \
    "a private header of the storage engine: include its public headers (datacursor.h, datatable.h, datadirectory.h, ...) instead"
#endif
