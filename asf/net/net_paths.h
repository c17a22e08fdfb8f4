/*
** net_paths.h: the directory of the local transports' rendezvous files
** (the STREAMS-pipe nodes, the shared-memory rendezvous file and the
** dynamic listener's file), "/DOVARIZATMP". Tests point it at a
** temporary directory through the override; the product never does.
** Internal to the association services.
*/
#ifndef DVZ_ASF_NET_PATHS_H
#define DVZ_ASF_NET_PATHS_H

#ifdef __cplusplus
extern "C" {
#endif

/* The fixed directory of the rendezvous files. */
#define ASF_TMPDIR "/DOVARIZATMP"

/* The directory in force: ASF_TMPDIR unless a test set an override. */
const char *asf_tmpdir(void);

#ifdef __cplusplus
}

/* Test-only: the directory to use in place of ASF_TMPDIR (no copy is
** made: the text must outlive its use), or null to restore it. */
void asf_tmpdir_override(const char *dir);
#endif

#endif
