// Descriptors of the tracking mode's statistics list.
#include "typed_mem.h"

#include "structs_type_array.h"
#include "structs_type_int.h"
#include "structs_type_string.h"
#include "structs_type_struct.h"

namespace {

const structs_type k_name_type = STRUCTS_BOUNDEDSTRING_TYPE(TYPED_MEM_TYPELEN);

const structs_field k_stats_fields[] = {
    STRUCTS_STRUCT_FIELD(typed_mem_typestats, type, &k_name_type),
    STRUCTS_STRUCT_FIELD(typed_mem_typestats, count, &structs_type_uint32),
    STRUCTS_STRUCT_FIELD(typed_mem_typestats, total, &structs_type_uint64),
    STRUCTS_STRUCT_FIELD_END,
};

const structs_type k_stats_record_type = STRUCTS_STRUCT_TYPE(typed_mem_typestats, k_stats_fields);

} // namespace

const structs_type typed_mem_stats_type =
    STRUCTS_ARRAY_TYPE(&k_stats_record_type, "typed_mem_stats", "type");
