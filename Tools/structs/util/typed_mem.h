// Typed memory: every block the structured data library hands out is allocated and freed
// together with a type name ("TEMPORARY", "structs_type_string", a caller's own name).
//
// In the plain mode the name is carried and nothing is checked; each call is the heap call.
// The tracking mode (typed_mem_enable, before any other call) records every live block by type,
// guards both ends of it and reports misuse: freeing or reallocating a block under another
// name, an unallocated block, or a block whose guard bytes were overwritten.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct structs_array;
struct structs_type;

// Type names are compared and counted over this many characters.
#define TYPED_MEM_TYPELEN 24

// With a null block this allocates. Null with errno 12 when out of memory; the old block is
// then untouched.
void *typed_mem_realloc(const char *mtype, void *mem, size_t size);
// As typed_mem_realloc, but the old block is freed when the new size cannot be had.
void *typed_mem_reallocf(const char *mtype, void *mem, size_t size);
// num x size zero bytes; null with errno 12 when the product overflows or memory is short.
void *typed_mem_calloc(const char *mtype, size_t num, size_t size);
char *typed_mem_strdup(const char *mtype, const char *s);
// A null block is ignored. errno is never changed, so a caller's error survives clean-up.
void typed_mem_free(const char *mtype, void *mem);

// Formats into a new block; the text length, or -1 with *ret null (errno 12, or 22 for a
// format the C library refuses).
int typed_mem_asprintf(const char *mtype, char **ret, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
int typed_mem_vasprintf(const char *mtype, char **ret, const char *fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

// Switches the tracking mode on; -1 with errno 16 once any typed-memory call has run.
int typed_mem_enable(void);
// The type name of a tracked block, copied into typebuf (TYPED_MEM_TYPELEN bytes); null with
// errno 6 without the tracking mode.
char *typed_mem_type(const void *mem, char *typebuf);

// One line of the statistics list.
struct typed_mem_typestats {
    char type[TYPED_MEM_TYPELEN];
    uint32_t count;
    uint64_t total;
};
// Variable array of typed_mem_typestats; release a filled list with
// structs_free(&typed_mem_stats_type, NULL, &list).
extern const struct structs_type typed_mem_stats_type;
// Fills the list (an uninitialised variable array) with one entry per type name in name
// order; -1 with errno 6 without the tracking mode.
int typed_mem_usage(struct structs_array *stats);
// The statistics as a table, or a line saying the mode is off.
void typed_mem_dump(FILE *fp);
