/*
** host_internal.h: helpers shared by the host-service modules of the
** locale library; not part of its interface.
*/
#ifndef DVZ_GLSLIB_HOST_INTERNAL_H
#define DVZ_GLSLIB_HOST_INTERNAL_H

#include <initializer_list>
#include <span>
#include <string_view>

namespace glslib {

/* Writes one diagnostic line made of the pieces, exactly as gl_message
** would write their concatenation; needs no buffer, so a line is never cut. */
void message_pieces(std::span<const std::string_view> pieces);
inline void message_pieces(std::initializer_list<std::string_view> pieces) {
  message_pieces(std::span<const std::string_view>(pieces.begin(), pieces.size()));
}

}  // namespace glslib

#endif
