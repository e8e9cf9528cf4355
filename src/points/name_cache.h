// The process's name-to-point cache of access by name (IO_Map_Find, the typed reads and writes
// by name, VIO_Read and VIO_Write, function names): the name exactly as a caller gave it ->
// its IO_MAP. Readers never lock; see name_cache.cpp for how that stays safe.
#pragma once

#include <vexlor/types.h>

#include <cstdint>

namespace vexlor::detail {

struct HUB_CONTEXT;

// The session of `ctx` in the cache: entries stored under another session are not seen.
// Take it before a search whose result is to be stored.
uint32_t name_cache_session(HUB_CONTEXT& ctx);

// The entry of `name` stored in this session, if any.
bool name_cache_find(HUB_CONTEXT& ctx, const char* name, Vexlor::IO_MAP* found);

// Stores or overwrites the entry of `name`, unless the context attached since `session` was
// taken has been released (the result of a search on a database that is gone is dropped).
void name_cache_store(uint32_t session, const char* name, Vexlor::IO_MAP map);

// The point of `name` in the table of `type`, through the cache: an entry of this type is used
// as it is; otherwise the table is searched (printing a miss unless `silent`) and a hit
// replaces the entry. False when not attached or not found.
bool resolve_point(Vexlor::IO_TYPE type, const char* name, bool silent, int32_t* index);

}  // namespace vexlor::detail
