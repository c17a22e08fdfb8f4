/*
** asf_net.h: the network library's message facility: the texts of the
** network error numbers -1000 to -960, a printer that stamps a line with
** the time of day, an abort report that only prints, and the library's
** vocabulary of message texts (`m_net_` followed by its key). The
** shared-memory driver prints its buffer-status report through
** `net_abort`; the other texts are data. All printing goes to standard
** output, flushed after each line. C linkage.
*/
#ifndef DVZ_ASF_NET_H
#define DVZ_ASF_NET_H

#ifdef __cplusplus
extern "C" {
#endif

/* Texts of the error numbers -1000 to -959, indexed by number + 1000. */
#define NET_MSG_TEXT_COUNT 42
extern const char *net_msg_text[NET_MSG_TEXT_COUNT];
extern const char *net_inv_msg; /* "invalid net error number" */
extern const char *net_ending_msg; /* "ending", number -1 */
extern const char *net_dead_msg; /* "dead host", number -2 */

/* The text of a network error number: -1 and -2 their own texts, -1000 to
** -981 and -979 to -960 the table's, anything else net_inv_msg. */
const char *net_msg_textp(int number);
/* Prints "<time> <text> \n", the local time of day as HH:MM:SS. */
void net_msg(const char *text);
/* As net_msg. */
void net_msg_console(const char *text);
/* Prints the text of a network error number with net_msg. */
void net_msg5(int number);
/* Prints "<source>, line <line>, <text>" with net_msg; the process goes on. */
void net_abort(const char *source, int line, const char *text);

/* The message vocabulary: key, text. Only the shared-memory texts have
** words here; the others belong to a server side and are empty. */
// clang-format off
#define NET_MESSAGE_VOCABULARY(X) \
  X(dead_msg, "") \
  X(shut, "") \
  X(buf_error, "") \
  X(start_thread, "") \
  X(end_thread, "") \
  X(scb_alloc, "") \
  X(mt_error, "") \
  X(mt_fork, "") \
  X(mt_lock, "") \
  X(mt_unlock, "") \
  X(mt_init, "") \
  X(mt_online, "") \
  X(mt_offline, "") \
  X(mt_affinity, "") \
  X(mt_yield, "") \
  X(mt_wakeup, "") \
  X(internal, "") \
  X(mail_error, "") \
  X(invalid_mail, "") \
  X(invalid_mail_from, "") \
  X(invalid_client, "") \
  X(callfrom, "") \
  X(service, "") \
  X(listenon, "") \
  X(reject_nc, "") \
  X(reject_ns, "") \
  X(wait_io, "") \
  X(listen_open, "") \
  X(listen_bind, "") \
  X(tli_alloc, "") \
  X(tli_look, "") \
  X(tli_listen, "") \
  X(tli_rcvdis, "") \
  X(tli_open, "") \
  X(tli_bind, "") \
  X(tli_optmgmt, "") \
  X(tli_accept, "") \
  X(tli_free, "") \
  X(error_count_listen, "") \
  X(extra_files, "") \
  X(send, "") \
  X(rcv, "") \
  X(poll_failed, "") \
  X(no_bufs, "") \
  X(insert, "") \
  X(error_count_poll, "") \
  X(client_died, "") \
  X(not_magic, "") \
  X(abort, "") \
  X(invalid_command, "") \
  X(bad_struct, "") \
  X(dump_h1, "") \
  X(more, "") \
  X(tli_outofsync, "") \
  X(fd_state, "") \
  X(bad_fd, "") \
  X(uninit, "") \
  X(unbound, "") \
  X(idle, "") \
  X(outcon, "") \
  X(incon, "") \
  X(dataxfer, "") \
  X(outrel, "") \
  X(inrel, "") \
  X(unknown, "") \
  X(initpoll, "") \
  X(init, "") \
  X(memory, "") \
  X(parm, "") \
  X(nopoll, "") \
  X(initlisten, "") \
  X(nohost, "") \
  X(notmagic, "") \
  X(wrongstate, "") \
  X(zerolength, "") \
  X(noservice, "") \
  X(reject_us, "") \
  X(maxconn, "") \
  X(abortlisten, "") \
  X(sm_bufid, "bad shm buffer id") \
  X(sm_wqueue, "shm wait queue corrupted") \
  X(sm_semop, "shm semaphore failure") \
  X(sm_bad_status, "shm wrong buffer status") \
  X(sm_create_seg, "shm creation of shmem segment failed") \
  X(sm_badaddr, "shm bad address") \
  X(sm_pipe, "shm event on pipe failed ") \
  X(sm_wakeup, "shm thread wakeup failed ") \
  X(sm_create_sem, "failure, system out of semaphores") \
  X(sm_file_create, "could not create shm file '%s'") \
  X(sm_file_open, "could not open shm file") \
  X(no_tli, "") \
  X(notup, "") \
  X(sm_buf, "could not get shm message buffer") \
  X(sm_write, "net_sm_write has failed") \
  X(techsupp, "")
// clang-format on

#define NET_DECLARE_MESSAGE(key, text) extern const char *m_net_##key;
NET_MESSAGE_VOCABULARY(NET_DECLARE_MESSAGE)
#undef NET_DECLARE_MESSAGE

#ifdef __cplusplus
}
#endif

#endif
