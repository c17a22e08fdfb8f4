# Sources of dvz_sqli, relative to sqli/: one list for the library and for
# the fuzz project (tests/sqli/fuzz).
set(dvz_sqli_sources
  # context, status recording, DBAPICODE maps, diagnostics and SQLSTATE
  sqli_seams.cpp
  runtime_context.cpp
  status_recording.cpp
  dbapi_maps.cpp
  diagnostics.cpp
  sqlstate_map.cpp
  reply_loop.cpp
  # wire primitives and text helpers
  wire_io.cpp
  wire_primitives.cpp
  sql_text.cpp
  sql_keywords.cpp
  hostvar_transfer.cpp
  tuple_unpack.cpp
  # request encoders, bind values, client-file helpers
  request_encoders.cpp
  bind_values.cpp
  return_types.cpp
  file_helpers.cpp
  collection_checks.cpp
  # elements and rows of collection variables, variable-length values
  collection_rows.cpp
  var_values.cpp
  # reply readers
  reply_readers.cpp
  # fast-path routine calls: their requests and replies
  fast_path.cpp
  # server-driven client files, BYTE and TEXT locators
  file_access.cpp
  locator_io.cpp
  blob_values.cpp
  blob_array_fetch.cpp
  # connections: CONNECT, DISCONNECT, SET CONNECTION, the implicit connection
  connections.cpp
  # association-service calls, reassociation and the database list
  asf_calls.cpp
  reassociation.cpp
  # server handshake, server information and session calls
  handshake.cpp
  session_calls.cpp
  # statements without a cursor and transactions
  statements.cpp
  # dynamic SQL: PREPARE, EXECUTE, EXECUTE IMMEDIATE, DESCRIBE
  dynamic_sql.cpp
  # cursor records and calls: names, DECLARE, OPEN, CLOSE, FLUSH, FREE
  cursor_names.cpp
  cursor_records.cpp
  cursor_calls.cpp
  # insert cursors: PUT, row buffering, flush
  insert_cursors.cpp
  # named descriptors and the version-7 conversions
  named_descriptors.cpp
  compat_v7.cpp
  # FETCH: sequential, array and scroll
  fetch.cpp
  # statements and cursors on collection and row host variables
  collection_cursors.cpp
)
