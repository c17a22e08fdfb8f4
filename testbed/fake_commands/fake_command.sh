#!/bin/sh
# A fake cluster framework command for tests and the demo. Installed under
# each command's name; it acts on the name it was called by:
#   - appends "<name> <arg>..." to $FM_FAKE_JOURNAL (when set), each argument
#     in its journal form: "" when empty, and bytes outside 0x21..0x7e and the
#     bytes \ and " written as \xNN (lower-case hex), so that argument
#     boundaries stay visible;
#   - dovariza_plaxnode prints $FM_FAKE_NODE (node2 by default);
#   - when $FM_FAKE_DIR/<name>.signal names a signal (KILL, TERM, ...), sends
#     it to the shell that runs the command (its parent: the `sh -c` of the
#     caller's system()) and to itself, so the caller sees a command killed
#     by that signal, whether or not its shell forked to run the command;
#   - exits with the number in $FM_FAKE_DIR/<name>.rc (0 when absent).

name=${0##*/}

# The journal form of one argument.
escape() {
  if [ -z "$1" ]; then
    printf '""'
    return
  fi
  # One awk for all the bytes: a shell loop would fork twice a byte.
  printf '%s' "$1" | od -An -v -tx1 | awk '
    BEGIN {
      for (i = 33; i <= 126; i++)
        if (i != 34 && i != 92) plain[sprintf("%02x", i)] = sprintf("%c", i)
    }
    { for (i = 1; i <= NF; i++) printf "%s", (($i in plain) ? plain[$i] : "\\x" $i) }'
}

if [ -n "$FM_FAKE_JOURNAL" ]; then
  line=$name
  for arg in "$@"; do
    line="$line $(escape "$arg")"
  done
  printf '%s\n' "$line" >>"$FM_FAKE_JOURNAL"
fi

if [ "$name" = dovariza_plaxnode ]; then
  printf '%s\n' "${FM_FAKE_NODE:-node2}"
fi

if [ -n "$FM_FAKE_DIR" ] && [ -r "$FM_FAKE_DIR/$name.signal" ]; then
  sig=$(tr -d ' \t\r\n' <"$FM_FAKE_DIR/$name.signal")
  case $sig in
    '' | *[!A-Z0-9]*) ;;
    *)
      kill -s "$sig" "$PPID"
      kill -s "$sig" $$
      ;;
  esac
fi

rc=0
if [ -n "$FM_FAKE_DIR" ] && [ -r "$FM_FAKE_DIR/$name.rc" ]; then
  rc=$(tr -d ' \t\r\n' <"$FM_FAKE_DIR/$name.rc")
  case $rc in
    '' | *[!0-9]*) rc=0 ;;
  esac
fi
exit "$rc"
