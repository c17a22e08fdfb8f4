/*
** asf_pipe.h: what programs outside the association services call for the
** pipe transport: the runtime's switch of the child-process handling
** (`ASF_SigSwitch`, from its signal set-up) and the back-end program's
** hand-over of its own arguments, from which the back-end side of the
** pipe transport takes the connect packet. C linkage; one thread.
*/
#ifndef DVZ_ASF_PIPE_H
#define DVZ_ASF_PIPE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Switches the SIGCHLD handling once the pipe transport has installed its
** reaper (nothing before): mode 1 ignores SIGCHLD with no zombies left,
** mode 2 puts the reaper back; a mode already in force, or any other
** mode, does nothing. Always 0. */
int ASF_SigSwitch(int mode);

/* Records the back-end program's argc and argv (kept, not copied: they
** must outlive the association). With 4 or more arguments the connect
** packet is built from them; otherwise it is read from descriptor 0. */
void asf_pipe_set_process_args(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
