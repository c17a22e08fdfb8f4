# Sources of dvz_asf, relative to asf/: one list for the library and for
# the fuzz project (tests/asf/fuzz).
set(dvz_asf_sources
  al/assoc_records.cpp
  al/asf_global.cpp
  al/ns_records.cpp
  al/file_reader.cpp
  al/sqlhosts.cpp
  al/sqlhosts_options.cpp
  tl/driver_support.cpp
  tl/protocol_switch.cpp
  tl/transport_layer.cpp
  tl/net_buffers.cpp
  net/net_messages.cpp
  net/tli_driver.cpp
  net/tcp_addr.cpp
  net/net_paths.cpp
  net/pipe_driver.cpp
  net/strpipe_driver.cpp
  net/shm_driver.cpp
  pfslsqi/asc_binary.cpp
  pfslsqi/asc_text.cpp
  pfslsqi/session_layer.cpp
  pfslsqi/protocol_family.cpp
  al/connection_manager.cpp
  al/service_call.cpp
  ns/name_service.cpp
  ns/netrc.cpp)
