/*
** sqli_seams.cpp: the production tables of the runtime's seams: the
** association services' entry points, the C allocator and the
** platform's file calls.
*/
#include "sqli_seams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "asf_call.h"
#include "asf_pipe.h"
#include "os_conv.h"

namespace {

void *zeroed_alloc(size_t size) { return std::calloc(1, size == 0 ? 1 : size); }
void *grow_block(void *block, size_t size) { return std::realloc(block, size == 0 ? 1 : size); }
void release_block(void *block) { std::free(block); }

/* The platform's calls, wrapped where they are variadic or overloaded. */
int open_file(const char *path, int flags, mode_t mode) { return open(path, flags, mode); }
int close_file(int fd) { return close(fd); }
ssize_t read_file(int fd, void *buffer, size_t count) { return read(fd, buffer, count); }
ssize_t write_file(int fd, const void *buffer, size_t count) { return write(fd, buffer, count); }
off_t seek_file(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }

}  // namespace

const sqli_asf_seam sqli_system_asf = {ASF_Call, ASF_FreeNSReg, ASF_SigSwitch};
const sqli_asf_seam *sqli_asf = &sqli_system_asf;

const sqli_memory_seam sqli_system_memory = {zeroed_alloc, grow_block, release_block};
const sqli_memory_seam *sqli_memory = &sqli_system_memory;

const sqli_file_seam sqli_system_files = {
    open_file, gcvopen, gcvcreat, close_file, read_file, write_file, seek_file,
};
const sqli_file_seam *sqli_files = &sqli_system_files;
