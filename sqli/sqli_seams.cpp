/*
** sqli_seams.cpp: the production tables of the runtime's seams: the
** association services' entry points and the C allocator.
*/
#include "sqli_seams.h"

#include <cstdlib>

#include "asf_call.h"
#include "asf_pipe.h"

namespace {

void *zeroed_alloc(size_t size) { return std::calloc(1, size == 0 ? 1 : size); }
void *grow_block(void *block, size_t size) { return std::realloc(block, size == 0 ? 1 : size); }
void release_block(void *block) { std::free(block); }

}  // namespace

const sqli_asf_seam sqli_system_asf = {ASF_Call, ASF_FreeNSReg, ASF_SigSwitch};
const sqli_asf_seam *sqli_asf = &sqli_system_asf;

const sqli_memory_seam sqli_system_memory = {zeroed_alloc, grow_block, release_block};
const sqli_memory_seam *sqli_memory = &sqli_system_memory;
