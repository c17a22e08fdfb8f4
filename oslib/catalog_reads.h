/*
** catalog_reads.h: the count of index reads made by the message-catalog
** reader (message_catalog.cpp), which bumps it on every read of an index
** block. Internal: the tests read it to show that a cached block costs no
** read; nothing in the product looks at it.
*/
#ifndef DVZ_OSLIB_CATALOG_READS_H
#define DVZ_OSLIB_CATALOG_READS_H

extern long os_catalog_index_reads;

#endif
