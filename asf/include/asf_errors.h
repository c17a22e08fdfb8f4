/*
** asf_errors.h: the error numbers of the association services, each
** defined here once. A service leaves them, negative, in the control
** record's asfcode (the catalog texts are in oslib/msg: cnet.txt,
** cnetsrv.txt, csql.txt, ccss.txt and ccsm.txt). The module codes at the
** end are those of the communication-support contract (dvz_csm.h), which
** a module is built with. C; no other content.
*/
#ifndef DVZ_ASF_ERRORS_H
#define DVZ_ASF_ERRORS_H

/* ---- Association layer and service call. ---- */
#define ASF_ERR_MEMORY (-406) /* memory */
#define ASF_ERR_BADASSOC (-25546) /* no association, or not a valid one */
#define ASF_ERR_BADARGS (-25563) /* bad arguments */
#define ASF_ERR_HOSTSOPEN (-25553) /* the sqlhosts file cannot be opened */
#define ASF_ERR_SVRNAMELEN (-25554) /* DOVARIZASERVER is too long */
#define ASF_ERR_NOSERVER (-25555) /* the server is not in sqlhosts */
#define ASF_ERR_BADENTRY (-25556) /* an invalid sqlhosts entry */
#define ASF_ERR_NOSVRENV (-25560) /* DOVARIZASERVER is unset */
#define ASF_ERR_ENVSERVER (-25596) /* the DOVARIZASERVER server is not in sqlhosts */
#define ASF_ERR_OPTIONS (-27004) /* bad sqlhosts options */
#define ASF_ERR_PROTOCOL (-408) /* an unexpected or malformed message */
#define ASF_ERR_COMMON (-25557) /* an internal failure of the services */
#define ASF_ERR_ARGUMENT (-27003) /* an argument or record missing, or the lock failed */
#define ASF_ERR_NOBUFFER (-25567) /* a buffer registration is missing */
#define ASF_ERR_WRITE (-25586) /* writing to the server failed */
#define ASF_ERR_READ (-25587) /* reading from the server failed, or it has gone */
#define ASF_ERR_NOUSER (-25590) /* no current user, or no response record */
#define ASF_ERR_UNSUPPORTED (-25592) /* the operation is not supported by the transport */
#define ASF_ERR_NOTACCEPTING (-25599) /* the server is not accepting connections */
#define ASF_ERR_BADCODE (-25551) /* a service code above 20 */
#define ASF_ERR_QBUSY (-25552) /* the service queue is busy */
#define ASF_ERR_STATE (-25598) /* not allowed in the association's state */
#define ASF_ERR_DEBUG (-25568) /* the debug set-up failed */
#define ASF_ERR_LISTENCODE \
  (-25564) /* an unknown listen request: a sub-code, or a bind
                                       response to a client older than level 61 */

/* ---- Transport layer and driver support. ---- */
#define ASF_ERR_SYSCALL (-25580) /* a system call of the transport failed */
#define ASF_ERR_BADADDR (-25591) /* the address is malformed or not of this host */

/* ---- TLI and TCP drivers. ---- */
#define TLI_ERR_CONNECT (-908) /* the connection failed, was refused or not confirmed */
#define TCP_ERR_NOHOST (-930) /* unknown host; errstr holds it */
#define TCP_ERR_NOSERVICE (-931) /* not a "tcp" service; errstr holds it */
#define TLI_ERR_BIND (-25572) /* t_bind failed */
#define TLI_ERR_OPEN (-25574) /* t_open failed */
#define TLI_ERR_CALLALLOC (-25575) /* no call structure */
#define TLI_ERR_BINDALLOC (-25576) /* no bind structure */
#define TLI_ERR_OUTSTATE (-25579) /* out of state, or no expedited buffer */
#define TLI_ERR_PEERGONE (-25582) /* the peer disconnected or released */
#define TLI_ERR_TRANSPORT (-25583) /* any other event or TLI error */
/* Statuses of the server side. */
#define TLI_ERR_QUEUEFULL (-25571) /* an indication came with every queue slot taken */
#define TLI_ERR_LISTEN (-25573) /* the wait, the event, t_listen, t_rcvdis or t_accept failed */

/* ---- Pipe driver. ---- */
#define PIPE_ERR_SETUP (-1250) /* pipe or fork failed */
#define PIPE_ERR_CONPKT (-932) /* the back-end could not read its connect packet */
#define PIPE_ERR_NOTEXEC (-25584) /* back-end program not executable (errstr: its path) */

/* ---- Shared-memory driver. ---- */
#define SHM_ERR_FAULT (-962) /* shared-memory failure (internal steps) */
#define SHM_ERR_CONNECTED (-27000) /* a shared-memory connection is already open */
#define SHM_ERR_CONNECT (-25588) /* connect or alert failed */
#define SHM_ERR_POST (-25594) /* posting the data alert failed */

/* ---- Name service. ---- */
#define NS_ERR_REMOTEDB (-25558) /* omit code: the database's host is not in sqlhosts */
#define NS_ERR_DBPATHSVR (-25559) /* omit code: a DBPATH server is not in sqlhosts */
#define NS_ERR_DBNAME (-909) /* a database or server name too long, or a bad character */
#define NS_ERR_SLASHSVR (-906) /* a server name after "//" longer than 128 characters */
#define NS_ERR_DBPATHLEN (-373) /* a DBPATH element or resulting path too long */

/* ---- Login and trusted-host checks. ---- */
#define LOGIN_ERR_NOUSER (-951) /* no passwd entry, no valid shadow entry, or no user name */
#define LOGIN_ERR_PASSWORD \
  (-952) /* wrong password, one required and none given, or a user
                                     name without a password */
#define LOGIN_ERR_NOHOST (-954) /* a checked login without a client host */
#define LOGIN_ERR_UNTRUSTED (-956) /* the host is not trusted for the user */

/* ---- Connect request, session layer, protocol family. ---- */
#define ASC_ERR_OLDREPLY (-25569) /* old-protocol reply without a type-2 record */
#define SL_ERR_PROTOCOL (-25595) /* bad header, length or type; ownership conflict */
#define SL_ERR_NORESPONSE (-27001) /* no response (in time), or a failure before it */
/* Status of communication support without a library context. */
#define PF_ERR_NOCSS (-14571)

/* ---- Hand-over. ---- */
#define HO_ERR_TOOMANY (-25548) /* more than one association of a kind */
#define HO_ERR_FAILED (-25597) /* a pipe, environment or short-read failure */

/* ---- Connection manager. ---- */
#define CM_ERR_CLOCK (-25566) /* the clock failed or went backwards */
#define CM_ERR_NOENTRY (-329) /* the name service found no server entry */
#define CM_ERR_NOCWD (-922) /* the current directory cannot be read */
/* Login error of a refused authentication mode or user kind. */
#define CM_ERR_AUTHMODE (-25561)
/* A response level above the association's. */
#define CM_ERR_LEVEL (-25549)

/* ---- Communication support services. ---- */
#define CSS_ERR_SECONDCSM (-14500) /* a second real module for one connection */
#define CSS_ERR_MEMORY (-14501) /* memory exhausted, or an unknown caller identity */
#define CSS_ERR_NOCSM (-14502) /* the connection's module is not configured */
#define CSS_ERR_LOAD (-14503) /* the module library cannot be loaded */
#define CSS_ERR_VERSION (-14504) /* the module's vector version is not 3 */
#define CSS_ERR_STATUS (-14506) /* a module reported an unknown step status */
#define CSS_ERR_DISCONNECTED (-14507) /* input reached a disconnected module */
#define CSS_ERR_MARKDISC (-14509) /* marking modules disconnected failed */
#define CSS_ERR_NOOWNER (-14510) /* no owner for an input buffer */
#define CSS_ERR_NOINIT (-14511) /* the library has no csm_init */
#define CSS_ERR_NOLIBRARY (-14512) /* no library path */
#define CSS_ERR_NOSEND (-14513) /* a handshake asked to be called again without sending */
#define CSS_ERR_NONAME (-14551) /* the connection's specification names no module */
#define CSS_ERR_NORETURN (-14562) /* the caller's buffer-return callback is missing */
#define CSS_ERR_PUTBYTES (-14563) /* the caller's put-bytes callback failed */
#define CSS_ERR_NOPUTBYTES (-14564) /* the caller's put-bytes callback is missing */
#define CSS_ERR_GETBYTES (-14565) /* the caller's get-bytes callback failed */
#define CSS_ERR_NOGETBYTES (-14566) /* the caller's get-bytes callback is missing */
#define CSS_ERR_RETURN (-14567) /* the caller's buffer-return callback failed */
#define CSS_ERR_NOIOVEC (-14572) /* a server context without the caller's I/O vector */
#define CSS_ERR_DIRECTION (-14573) /* a processing direction other than input or output */
#define CSS_ERR_CFGOPEN (-14574) /* concsm.cfg cannot be opened */
#define CSS_ERR_PARM (-14575) /* the module's connection parameter cannot be read */
#define CSS_ERR_NOCONTEXT (-14576) /* no CSS context */
#define CSS_ERR_NOBUFFER (-14577) /* no module holds a buffer for that direction */
#define CSS_ERR_NOBUFOWNER (-14578) /* buffer return for no module */
#define CSS_ERR_LOCK (-14579) /* lock failure, or a direction other than 0 or 1 */
#define CSS_ERR_SYNTAX (-14581) /* concsm.cfg syntax error */
#define CSS_ERR_DUPLICATE (-14582) /* duplicate name, or a reference not followed by ',' */
#define CSS_ERR_UNDEFINED (-14583) /* a name with neither definition nor members */
#define CSS_ERR_NOSTATIC (-14584) /* no library and no static entry */
#define CSS_ERR_PARSE (-14585) /* other parse failure */
#define CSS_ERR_NAMELESS (-14586) /* a descriptor without a name */
#define CSS_ERR_SELFMEMBER (-14587) /* a virtual module that contains itself */
#define CSS_ERR_INCOMPLETE (-14588) /* a real module without library or init entry */

/* ---- Communication support glue. ---- */
#define ASFCSS_ERR_NOSPEC (-28081) /* the entry has no csm specification */
#define ASFCSS_ERR_EXISTS (-28082) /* a CSS context already exists */
#define ASFCSS_ERR_NOCONTEXT (-28083) /* no CSS context */
#define ASFCSS_ERR_RETRY (-28084) /* resumed with another message, or a position outside it */
#define ASFCSS_ERR_DISPOSITION (-28086) /* an unexpected disposition */
#define ASFCSS_ERR_STATE (-28087) /* operation not allowed in the current state */

/* ---- Module codes of the communication-support contract (dvz_csm.h). ---- */
#define CSM_ERR_UNKNOWN (-5000) /* a module code outside -5013..-5001 */
#define CSM_ERR_INIT (-5001) /* the module cannot initialise */
#define CSM_ERR_OPTIONS (-5002) /* an option text is not valid */
#define CSM_ERR_MEMORY (-5003) /* the module ran out of memory */
#define CSM_ERR_HANDSHAKE (-5004) /* a handshake token is not valid */
#define CSM_ERR_MESSAGE (-5005) /* a message cannot be transformed */
#define CSM_ERR_LOGIN (-5006) /* the login is refused */
#define CSM_ERR_SEQUENCE (-5007) /* a call out of order for the connection */
#define CSM_ERR_DISCONNECTED (-5008) /* the peer went away (from a process call) */
#define CSM_ERR_BUFFER (-5009) /* a returned buffer is not the module's */
#define CSM_ERR_RELEASE (-5010) /* the orderly close failed */
#define CSM_ERR_ABORT (-5011) /* the abortive close failed */
#define CSM_ERR_CONFIG (-5012) /* the module's configuration is not usable */
#define CSM_ERR_INTERNAL (-5013) /* any other failure inside the module */

#endif
