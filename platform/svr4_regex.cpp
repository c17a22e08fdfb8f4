/*
** regcmp, regex and regcmp_free: the System V pattern calls the action
** file uses. Called by the action-file module; calls only the C library.
**
** The pattern syntax, byte for byte:
**   c       any other byte is itself; "\c" is c itself, "\n" a newline
**   .       any byte, newline included
**   [...]   a set: ranges a-z, "^" first negates, "]" first and "-" first
**           or last are themselves, "-" after a range is itself; "\" inside
**           is itself; a negated set matches a newline
**   * + {m} {m,} {m,u}   repeat the preceding byte, set or group; bounds
**           0..255; "*", "+" and "{" with nothing before them are themselves;
**           a repetition of a repetition repeats the whole of it
**   ( )     a group; "( )$n" with a digit n marks a capture, which no caller
**           reads: the mark is accepted and dropped
**   ^ $     anchors only as the first and the last byte of the pattern, and
**           then at the ends of the subject (no line semantics); anywhere
**           else themselves. "|" and "?" are always themselves.
** Syntax errors: unbalanced "(", ")" or "[", a reversed range in a set, an
** unclosed, malformed, too large or reversed brace, a trailing "\". Two
** resource limits are reported the same way: more than max_depth nested
** groups, and repetitions expanding beyond max_positions positions.
**
** Because "^" and "$" can only be the ends of the whole pattern, they are
** flags of the compiled object, and the pattern itself is a plain regular
** expression. It is compiled to a Thompson automaton (bounded repetitions
** copied out) and searched with a lazily built DFA in one pass over the
** subject, so every search is linear in the subject whatever the nesting
** of repetitions: no backtracking, and no restart per start position
** either. While the search sits in its start state it skips, with memchr
** or a byte table, to the next byte that can begin a match.
**
** The compiled object is never written after regcmp: every search builds
** its own DFA cache, so regex may run on one object from several threads.
*/
#include <algorithm>
#include <bitset>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "svr4.h"

namespace {

constexpr unsigned max_bound = 255;
constexpr unsigned unbounded = UINT_MAX;
/* Copies of bounded repetitions may not make an automaton larger than this
** (((a{255}){255}){255} would need 16 million positions). */
constexpr std::uint64_t max_positions = 1u << 18;
/* Nesting of groups; keeps the recursive compilation off the stack limit. */
constexpr size_t max_depth = 1000;
/* DFA cache of one search: flushed when it holds this many states or
** position numbers, so memory stays bounded whatever the pattern. */
constexpr size_t max_states = 4096;
constexpr size_t max_cached_positions = size_t {1} << 22;

using ByteSet = std::bitset<256>;

/* The parsed pattern: byte sets, sequences (the pattern and its groups)
** and repetitions. */
enum class NodeKind { Set, Sequence, Repeat };

struct Node {
  explicit Node(NodeKind k) : kind(k) {}
  NodeKind kind;
  int set = -1; /* Set: index into Pattern::sets */
  std::vector<int> children; /* Sequence: its items; Repeat: the repeated one */
  unsigned min = 1, max = 1; /* Repeat: bounds, max unbounded for none */
};

enum class Op : std::uint8_t { Byte, Split, Jump, Match };

struct Inst {
  Op op;
  int set; /* Byte: the byte set it consumes */
  int x; /* Byte: next; Split: first branch; Jump: target */
  int y; /* Split: second branch */
};

struct CompiledPattern {
  std::vector<ByteSet> sets;
  std::vector<Inst> program;
  std::vector<int> start; /* closure of instruction 0: Byte and Match only */
  ByteSet first; /* bytes that can begin a match */
  int first_count = 0;
  unsigned char only_first = 0; /* the byte when first_count is 1 */
  bool start_matches = false; /* the pattern matches the empty text */
  bool anchored_start = false;
  bool anchored_end = false;
};

std::uint64_t capped_mul(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > (max_positions + 1) / a) return max_positions + 1;
  return a * b;
}

std::uint64_t capped_add(std::uint64_t a, std::uint64_t b) {
  return a + b > max_positions ? max_positions + 1 : a + b;
}

/*
** Reads one pattern into nodes. parse() returns false on a syntax error or
** when a resource limit is passed; the nodes are then in no defined state.
*/
class Parser {
 public:
  Parser(std::string_view pattern, CompiledPattern &out) : in_(pattern), out_(out) {}

  bool parse() {
    nodes_.emplace_back(NodeKind::Sequence);
    open_.push_back(0);
    if (!in_.empty() && in_[0] == '^') {
      out_.anchored_start = true;
      pos_ = 1;
    }
    while (pos_ < in_.size()) {
      char c = in_[pos_];
      if (c == '$' && pos_ + 1 == in_.size()) {
        out_.anchored_end = true;
        ++pos_;
      } else if (c == '(') {
        if (open_.size() > max_depth) return false;
        ++pos_;
        int group = add_node(Node(NodeKind::Sequence));
        nodes_[open_.back()].children.push_back(group);
        open_.push_back(group);
      } else if (c == ')') {
        if (open_.size() == 1) return false;
        ++pos_;
        open_.pop_back();
        if (!postfix(true)) return false;
      } else {
        if (!atom()) return false;
        if (!postfix(false)) return false;
      }
    }
    return open_.size() == 1 && weight(0) <= max_positions;
  }

  const std::vector<Node> &nodes() const { return nodes_; }

 private:
  int add_node(Node node) {
    nodes_.push_back(std::move(node));
    return static_cast<int>(nodes_.size() - 1);
  }

  void add_set(const ByteSet &set) {
    out_.sets.push_back(set);
    Node node {NodeKind::Set};
    node.set = static_cast<int>(out_.sets.size() - 1);
    int id = add_node(std::move(node));
    nodes_[open_.back()].children.push_back(id);
  }

  void add_byte(unsigned char c) {
    ByteSet set;
    set.set(c);
    add_set(set);
  }

  /* One byte, escape or set at pos_; a "*", "+" or "{" here has nothing
  ** before it and is itself. */
  bool atom() {
    char c = in_[pos_];
    if (c == '\\') {
      if (pos_ + 1 == in_.size()) return false;
      char next = in_[pos_ + 1];
      pos_ += 2;
      add_byte(next == 'n' ? '\n' : static_cast<unsigned char>(next));
      return true;
    }
    if (c == '.') {
      ++pos_;
      ByteSet any;
      any.set();
      any.reset(0);
      add_set(any);
      return true;
    }
    if (c == '[') return bracket();
    ++pos_;
    add_byte(static_cast<unsigned char>(c));
    return true;
  }

  /* Repetitions (and, after a group, capture marks) applying to the last
  ** item of the innermost open sequence. */
  bool postfix(bool is_group) {
    while (pos_ < in_.size()) {
      char c = in_[pos_];
      if (is_group && c == '$' && pos_ + 1 < in_.size() && in_[pos_ + 1] >= '0' &&
          in_[pos_ + 1] <= '9') {
        pos_ += 2;
        continue;
      }
      Node repeat {NodeKind::Repeat};
      if (c == '*' || c == '+') {
        ++pos_;
        repeat.min = c == '*' ? 0 : 1;
        repeat.max = unbounded;
      } else if (c == '{') {
        if (!brace(repeat.min, repeat.max)) return false;
      } else {
        break;
      }
      repeat.children.push_back(nodes_[open_.back()].children.back());
      int id = add_node(std::move(repeat));
      nodes_[open_.back()].children.back() = id;
    }
    return true;
  }

  /* Reads "{m}", "{m,}" or "{m,u}" at pos_ into its bounds. */
  bool brace(unsigned &low, unsigned &high) {
    ++pos_;
    if (!number(low)) return false;
    high = low;
    if (pos_ < in_.size() && in_[pos_] == ',') {
      ++pos_;
      if (pos_ < in_.size() && in_[pos_] == '}') {
        high = unbounded;
      } else if (!number(high) || high < low) {
        return false;
      }
    }
    if (pos_ >= in_.size() || in_[pos_] != '}') return false;
    ++pos_;
    return true;
  }

  /* Decimal digits worth at most max_bound. */
  bool number(unsigned &value) {
    value = 0;
    size_t digits = 0;
    for (; pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9'; ++pos_, ++digits)
      if (value <= max_bound) value = value * 10 + static_cast<unsigned>(in_[pos_] - '0');
    return digits > 0 && value <= max_bound;
  }

  /* A set "[...]" at pos_. */
  bool bracket() {
    size_t i = pos_ + 1;
    bool negate = false;
    if (i < in_.size() && in_[i] == '^') {
      negate = true;
      ++i;
    }
    ByteSet set;
    bool first = true;
    for (;;) {
      if (i >= in_.size()) return false;
      auto lo = static_cast<unsigned char>(in_[i]);
      if (lo == ']' && !first) break;
      first = false;
      ++i;
      unsigned char hi = lo;
      if (i + 1 < in_.size() && in_[i] == '-' && in_[i + 1] != ']') {
        hi = static_cast<unsigned char>(in_[i + 1]);
        i += 2;
        if (hi < lo) return false;
      }
      for (unsigned b = lo; b <= hi; ++b)
        set.set(b);
    }
    pos_ = i + 1;
    if (negate) set.flip();
    set.reset(0); /* a C string holds no NUL */
    add_set(set);
    return true;
  }

  /* Automaton positions node n expands to, capped above max_positions. */
  std::uint64_t weight(int n) const {
    const Node &node = nodes_[n];
    switch (node.kind) {
      case NodeKind::Set:
        return 1;
      case NodeKind::Sequence: {
        std::uint64_t sum = 0;
        for (int child : node.children)
          sum = capped_add(sum, weight(child));
        return sum;
      }
      case NodeKind::Repeat: {
        std::uint64_t copies = node.max == unbounded ? std::uint64_t {node.min} + 1 : node.max;
        return capped_add(capped_mul(std::max<std::uint64_t>(weight(node.children[0]), 1), copies),
                          copies);
      }
    }
    return 0;
  }

  std::string_view in_;
  CompiledPattern &out_;
  size_t pos_ = 0;
  std::vector<Node> nodes_;
  std::vector<int> open_; /* the sequences (pattern, groups) still open */
};

/* Emits the Thompson automaton of the parsed nodes into out.program. */
class Emitter {
 public:
  Emitter(const std::vector<Node> &nodes, CompiledPattern &out)
      : nodes_(nodes), program_(out.program) {}

  void emit_all() {
    emit(0);
    program_.push_back({Op::Match, -1, -1, -1});
  }

 private:
  int pc() const { return static_cast<int>(program_.size()); }

  void emit(int n) {
    const Node &node = nodes_[n];
    switch (node.kind) {
      case NodeKind::Set:
        program_.push_back({Op::Byte, node.set, pc() + 1, -1});
        break;
      case NodeKind::Sequence:
        for (int child : node.children)
          emit(child);
        break;
      case NodeKind::Repeat:
        for (unsigned i = 0; i < node.min; ++i)
          emit(node.children[0]);
        if (node.max == unbounded) {
          int loop = pc();
          program_.push_back({Op::Split, -1, loop + 1, -1});
          emit(node.children[0]);
          program_.push_back({Op::Jump, -1, loop, -1});
          program_[loop].y = pc();
        } else {
          std::vector<int> splits;
          for (unsigned i = node.min; i < node.max; ++i) {
            splits.push_back(pc());
            program_.push_back({Op::Split, -1, pc() + 1, -1});
            emit(node.children[0]);
          }
          for (int split : splits)
            program_[split].y = pc();
        }
        break;
    }
  }

  const std::vector<Node> &nodes_;
  std::vector<Inst> &program_;
};

/* Epsilon closure: adds the Byte and Match instructions reachable from pc
** without consuming a byte. mark/generation keep one visit per closure. */
class Closure {
 public:
  explicit Closure(const std::vector<Inst> &program)
      : program_(program), mark_(program.size(), 0) {}

  void begin() {
    if (++generation_ == 0) {
      std::fill(mark_.begin(), mark_.end(), 0);
      generation_ = 1;
    }
  }

  void add(int pc, std::vector<int> &out) {
    stack_.push_back(pc);
    while (!stack_.empty()) {
      int at = stack_.back();
      stack_.pop_back();
      if (mark_[at] == generation_) continue;
      mark_[at] = generation_;
      const Inst &inst = program_[at];
      switch (inst.op) {
        case Op::Byte:
        case Op::Match:
          out.push_back(at);
          break;
        case Op::Jump:
          stack_.push_back(inst.x);
          break;
        case Op::Split:
          stack_.push_back(inst.y);
          stack_.push_back(inst.x);
          break;
      }
    }
  }

 private:
  const std::vector<Inst> &program_;
  std::vector<unsigned> mark_;
  unsigned generation_ = 0;
  std::vector<int> stack_;
};

bool has_match(const std::vector<Inst> &program, const std::vector<int> &positions) {
  return std::any_of(positions.begin(), positions.end(),
                     [&program](int pc) { return program[pc].op == Op::Match; });
}

/*
** One search: the DFA states met so far, each a sorted set of automaton
** positions, and their transitions (-1 while not yet computed). State 0 is
** always the start state.
*/
class Search {
 public:
  explicit Search(const CompiledPattern &pattern) : pattern_(pattern), closure_(pattern.program) {
    reset();
  }

  bool accepting(int state) const { return accepting_[state] != 0; }
  bool dead(int state) const { return states_[state].empty(); }

  /* The state after byte b from *state; *state is renumbered when the
  ** cache had to be flushed. */
  int next(int *state, unsigned char b) {
    int known = transitions_[static_cast<size_t>(*state) * 256 + b];
    if (known >= 0) return known;
    if (states_.size() >= max_states || cached_positions_ >= max_cached_positions) {
      std::vector<int> current = states_[*state];
      reset();
      *state = intern(std::move(current));
    }
    std::vector<int> positions;
    closure_.begin();
    for (int pc : states_[*state]) {
      const Inst &inst = pattern_.program[pc];
      if (inst.op == Op::Byte && pattern_.sets[inst.set].test(b)) closure_.add(inst.x, positions);
    }
    /* Unanchored: a match may begin at every byte. */
    if (!pattern_.anchored_start)
      for (int pc : pattern_.start)
        closure_.add(pc, positions);
    std::sort(positions.begin(), positions.end());
    int id = intern(std::move(positions));
    transitions_[static_cast<size_t>(*state) * 256 + b] = id;
    return id;
  }

 private:
  void reset() {
    states_.clear();
    accepting_.clear();
    transitions_.clear();
    ids_.clear();
    cached_positions_ = 0;
    intern(std::vector<int>(pattern_.start));
  }

  int intern(std::vector<int> positions) {
    std::string key(reinterpret_cast<const char *>(positions.data()),
                    positions.size() * sizeof(int));
    auto found = ids_.find(key);
    if (found != ids_.end()) return found->second;
    int id = static_cast<int>(states_.size());
    ids_.emplace(std::move(key), id);
    accepting_.push_back(has_match(pattern_.program, positions) ? 1 : 0);
    cached_positions_ += positions.size();
    states_.push_back(std::move(positions));
    transitions_.resize(states_.size() * 256, -1);
    return id;
  }

  const CompiledPattern &pattern_;
  Closure closure_;
  std::vector<std::vector<int>> states_;
  std::vector<char> accepting_;
  std::vector<int> transitions_;
  std::unordered_map<std::string, int> ids_;
  size_t cached_positions_ = 0;
};

/* Finishes a parsed pattern: automaton, start closure and first bytes. */
void build(const std::vector<Node> &nodes, CompiledPattern &pattern) {
  Emitter(nodes, pattern).emit_all();
  Closure closure(pattern.program);
  closure.begin();
  closure.add(0, pattern.start);
  std::sort(pattern.start.begin(), pattern.start.end());
  pattern.start_matches = has_match(pattern.program, pattern.start);
  for (int pc : pattern.start)
    if (pattern.program[pc].op == Op::Byte) pattern.first |= pattern.sets[pattern.program[pc].set];
  pattern.first_count = static_cast<int>(pattern.first.count());
  for (unsigned b = 1; b < 256 && pattern.first_count == 1; ++b)
    if (pattern.first.test(b)) pattern.only_first = static_cast<unsigned char>(b);
}

/* First position at or after p that can begin a match, or end. */
const unsigned char *skip_to_first(const CompiledPattern &pattern, const unsigned char *p,
                                   const unsigned char *end) {
  if (pattern.first_count == 1) {
    const void *at = std::memchr(p, pattern.only_first, static_cast<size_t>(end - p));
    return at != nullptr ? static_cast<const unsigned char *>(at) : end;
  }
  while (p < end && !pattern.first.test(*p))
    ++p;
  return p;
}

bool search(const CompiledPattern &pattern, const unsigned char *p, const unsigned char *end) {
  if (pattern.start_matches && !pattern.anchored_end) return true;
  Search dfa(pattern);
  int state = 0;
  while (p < end) {
    /* In the start state every byte outside the first bytes leads back to it. */
    if (state == 0 && !pattern.anchored_start) {
      p = skip_to_first(pattern, p, end);
      if (p == end) break;
    }
    state = dfa.next(&state, *p++);
    if (dfa.accepting(state)) {
      if (!pattern.anchored_end) return true;
    } else if (pattern.anchored_start && dfa.dead(state)) {
      return false;
    }
  }
  return pattern.anchored_end && dfa.accepting(state);
}

}  // namespace

extern "C" {

/*
** Compiles pattern (syntax above).
** Returns a compiled object owned by the caller, to free with regcmp_free;
** NULL when pattern is NULL, on a syntax error, past a resource limit, or
** when memory runs out.
*/
char *regcmp(const char *pattern) {
  if (pattern == nullptr) return nullptr;
  auto *compiled = new (std::nothrow) CompiledPattern;
  if (compiled == nullptr) return nullptr;
  try {
    Parser parser(pattern, *compiled);
    if (!parser.parse()) {
      delete compiled;
      return nullptr;
    }
    build(parser.nodes(), *compiled);
  } catch (const std::bad_alloc &) {
    delete compiled;
    return nullptr;
  }
  return reinterpret_cast<char *>(compiled);
}

/*
** REQUIRES: compiled came from regcmp and was not freed.
** Returns subject when the pattern is found anywhere in it (within the
** anchors), NULL when it is not, when compiled or subject is NULL, or when
** memory for the search runs out.
*/
char *regex(const char *compiled, const char *subject) {
  if (compiled == nullptr || subject == nullptr) return nullptr;
  const auto *pattern = reinterpret_cast<const CompiledPattern *>(compiled);
  const auto *begin = reinterpret_cast<const unsigned char *>(subject);
  try {
    return search(*pattern, begin, begin + std::strlen(subject)) ? const_cast<char *>(subject)
                                                                 : nullptr;
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

/* Frees an object from regcmp; NULL is ignored. */
void regcmp_free(char *compiled) { delete reinterpret_cast<CompiledPattern *>(compiled); }
}
