/*
** sqli_seams.h: the embedded-SQL runtime's seams to the layers beneath
** it: the association services, memory and client files. Each is a table
** of functions behind a pointer that starts at the production table; a
** test installs its own (a fake association layer, a failing allocator,
** files kept in a scratch directory) before the code under test runs and
** puts the old one back afterwards.
*/
#ifndef DVZ_SQLI_SEAMS_H
#define DVZ_SQLI_SEAMS_H

#include <sys/types.h>

#include <cstddef>

#include "asf_records.h"
#include "asf_svcctl.h"

/* The association services: the service call, the release of a name
** service registry, and the signal switch. */
struct sqli_asf_seam {
  int (*call)(asfsvcctl *ctl, asfsvcreq *req);
  void (*free_nsreg)(NSReg *reg);
  int (*sig_switch)(int mode);
};
extern const sqli_asf_seam sqli_system_asf;
extern const sqli_asf_seam *sqli_asf;

/* Memory of the runtime's records and buffers. alloc returns zeroed
** memory or null; grow keeps the contents (null leaves block as it was);
** release takes null. */
struct sqli_memory_seam {
  void *(*alloc)(size_t size);
  void *(*grow)(void *block, size_t size);
  void (*release)(void *block);
};
extern const sqli_memory_seam sqli_system_memory;
extern const sqli_memory_seam *sqli_memory;

inline void *sqli_alloc(size_t size) { return sqli_memory->alloc(size); }
inline void *sqli_grow(void *block, size_t size) { return sqli_memory->grow(block, size); }
inline void sqli_release(void *block) { sqli_memory->release(block); }

/* Client files: the calls of server-driven file access and of the file
** helpers, each as the platform call it stands for (-1 with errno on
** failure). open takes the name as given; open_client and create_client
** take a name in the client's code set and convert it first (gcvopen,
** gcvcreat). A test's table sees every file the runtime opens for the
** server or through the file helpers. */
struct sqli_file_seam {
  int (*open)(const char *path, int flags, mode_t mode);
  int (*open_client)(const char *name, int flags);
  int (*create_client)(const char *name, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void *buffer, size_t count);
  ssize_t (*write)(int fd, const void *buffer, size_t count);
  off_t (*lseek)(int fd, off_t offset, int whence);
};
extern const sqli_file_seam sqli_system_files;
extern const sqli_file_seam *sqli_files;

#endif
