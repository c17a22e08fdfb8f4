/*
** A syslog sink of the testbed's own (the monitor's syslog seam,
** monitor_log.h): each message goes as one RFC 3164-style datagram,
** "<PRI>Mmm dd hh:mm:ss <ident>: <text>", to an AF_UNIX datagram socket at
** a path of the caller's, the way glibc's syslog sends to /dev/log. The
** monitor's test build uses it so that each test run has its own socket,
** read by a SyslogCapture bound there.
*/
#ifndef DVZ_SYSLOG_SOCKET_SINK_H
#define DVZ_SYSLOG_SOCKET_SINK_H

#include "monitor_log.h"

namespace testbed {

/* The sink, sending to `path` from now on (the text is copied). It keeps
** glibc's rules: the mask drops a level it does not hold, the facility of
** the last open goes into PRI, %m is the caller's errno; a message that
** cannot be sent (nobody bound at the path) is dropped. One socket per
** message, so the sink survives a daemon closing every descriptor. */
const syslog_sink *socket_syslog_sink(const char *path);

}  // namespace testbed

#endif
