/*
** Every oslib test process runs in a world of its own: DOVARIZADIR names a
** fresh temporary tree (holding the build's locale data, gls/, and an
** empty etc/) and the home directory seam a fresh empty home,
** both set before the first test, so that no test reads the real home,
** /usr/dovariza or the developer's rc files. Tests that need files put
** them there (or point the variables elsewhere themselves).
*/
#ifndef DVZ_TESTS_OSLIB_ISOLATION_H
#define DVZ_TESTS_OSLIB_ISOLATION_H

#include <string>

namespace oslib_test {

/* The temporary DOVARIZADIR and home of this process. */
const std::string &isolated_dovarizadir();
const std::string &isolated_home();

}  // namespace oslib_test

#endif
