/*
** Seeded random strings over an alphabet, for the tests that compare the
** library against a peer on many inputs. Header only.
*/
#ifndef DVZ_TESTS_GLSLIB_RANDOM_TEXT_H
#define DVZ_TESTS_GLSLIB_RANDOM_TEXT_H

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace glstest {

/* Random strings of 0 to max_picks picks from an alphabet: its bytes
** (std::string) or its characters' byte forms (a vector of strings). The
** same seed gives the same strings. */
template <class Alphabet>
class RandomPicks {
 public:
  RandomPicks(Alphabet alphabet, unsigned seed) : alphabet_(std::move(alphabet)), rng_(seed) {}
  std::string next(int max_picks) {
    std::uniform_int_distribution<int> length(0, max_picks);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet_.size() - 1);
    std::string s;
    for (int n = length(rng_); n > 0; --n)
      s += alphabet_[pick(rng_)];
    return s;
  }

 private:
  Alphabet alphabet_;
  std::mt19937 rng_;
};

/* Random strings of alphabet's bytes. */
using RandomStrings = RandomPicks<std::string>;
/* Random strings of whole characters, each given by its bytes. */
using RandomText = RandomPicks<std::vector<std::string>>;

}  // namespace glstest

#endif
