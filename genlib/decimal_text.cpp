/*
** decimal_text.cpp: DECIMAL values to and from text under the numeric
** conventions of the current locale environment (decimal point, thousands
** separator and grouping, signs), the digit strings that the text writers
** and the MONEY and display code share, and the packing helpers.
**
** The digit strings live in one buffer of the general control block,
** grown on demand; a returned string stays valid until the next call.
*/
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "number_conventions.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_lconv.h"

namespace {

constexpr int max_kept_digits = 32;
constexpr int local_copy_size = 40;
constexpr int min_digit_capacity = 82;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool starts_with(const char *text, const char *bytes, int length) {
  return length > 0 && std::strncmp(text, bytes, static_cast<size_t>(length)) == 0;
}

/* The shared digit buffer grown to hold capacity bytes, contents kept;
** NULL (and capacity 0) when it cannot be. */
char *digit_buffer(gen_tcb *tcb, int64_t capacity) {
  if (capacity < min_digit_capacity) capacity = min_digit_capacity;
  if (tcb->digit_buffer != nullptr && tcb->digit_capacity >= capacity) return tcb->digit_buffer;
  void *grown = capacity > INT32_MAX
                    ? nullptr
                    : std::realloc(tcb->digit_buffer, static_cast<size_t>(capacity));
  if (grown == nullptr) {
    std::free(tcb->digit_buffer);
    tcb->digit_buffer = nullptr;
    tcb->digit_capacity = 0;
    return nullptr;
  }
  tcb->digit_buffer = static_cast<char *>(grown);
  tcb->digit_capacity = static_cast<int32_t>(capacity);
  return tcb->digit_buffer;
}

/* The work copy deccvasc scans: terminated, local when it fits. */
class TextCopy {
 public:
  TextCopy(const char *text, int length) {
    if (length < 0) length = 0;
    if (length + 1 <= local_copy_size) {
      data_ = local_;
    } else {
      heap_ = static_cast<char *>(std::malloc(static_cast<size_t>(length) + 1));
      data_ = heap_;
    }
    if (data_ == nullptr) return;
    if (length > 0) std::memcpy(data_, text, static_cast<size_t>(length));
    data_[length] = '\0';
  }
  ~TextCopy() { std::free(heap_); }
  TextCopy(const TextCopy &) = delete;
  TextCopy &operator=(const TextCopy &) = delete;
  char *data() { return data_; }

 private:
  char local_[local_copy_size];
  char *heap_ = nullptr;
  char *data_ = nullptr;
};

void set_zero(dec_t *result) { decload(result, 1, 0, nullptr, 0); }

/* Floor of a / 2 for any sign. */
int half_down(int a) { return a >= 0 ? a / 2 : -((1 - a) / 2); }

/* Where the integer digits of text end: from first, over digits and
** separators, back to the last digit. */
const char *integer_digits_end(const char *first, const gls_lconv &lc) {
  const char *p = first;
  const char *last_digit = first;
  for (;;) {
    if (is_digit(*p)) {
      ++p;
      last_digit = p;
    } else if (starts_with(p, lc.thousands_sep, lc.thousands_sep_len)) {
      p += lc.thousands_sep_len;
    } else {
      break;
    }
  }
  return last_digit;
}

/* Writes the fixed or exponential text shared by dectoasc and dbltoasc;
** display selects dbltoasc's sign and fraction rules. */
int write_fixed(const dec_t *value, char *buffer, int length, int places, bool display) {
  if (length <= 0) return 0;
  std::memset(buffer, ' ', static_cast<size_t>(length));
  if (value->sign == -1) return 0;
  const gls_lconv &lc = dvz_genlib::conventions();
  if (places == -1) {
    places = value->npairs > 0 ? 2 * (value->npairs - value->exponent) : 0;
    if (value->npairs > 0 && value->pairs[value->npairs - 1] % 10 == 0) --places;
    if (places < 1) places = 1;
  }
  int point = 0;
  int negative = 0;
  for (;;) {
    const char *digits = deccvt(value, places, &point, &negative, 2);
    if (digits == nullptr) break;
    int count = static_cast<int>(std::strlen(digits));
    if (display && point <= 0) {
      while (count > 0 && digits[count - 1] == '0')
        --count;
      if (count == 0) {
        digits = "00";
        count = 2;
      }
    }
    int sign_length = negative ? (display ? lc.negative_sign_len : 1) : 0;
    int64_t needed = int64_t {sign_length} + (point > 0 ? point : 1) +
                     (places > 0 ? int64_t {lc.decimal_point_len} + places : 0);
    if (needed <= length) {
      auto digit_at = [&](int64_t index) -> char {
        if (index < 0) return '0';
        if (index < count) return digits[index];
        return display ? '\0' : '0';
      };
      bool all_zero = true;
      for (int64_t i = 0; i < point && i < count; ++i)
        all_zero = all_zero && digits[i] == '0';
      for (int64_t i = 0; i < places; ++i)
        all_zero = all_zero && (digit_at(point + i) == '0' || digit_at(point + i) == '\0');
      char *out = buffer;
      if (negative && (display || !all_zero)) {
        if (display) {
          std::memcpy(out, lc.negative_sign, static_cast<size_t>(lc.negative_sign_len));
          out += lc.negative_sign_len;
        } else {
          *out++ = '-';
        }
      }
      if (point > 0) {
        for (int i = 0; i < point; ++i)
          *out++ = digit_at(i);
      } else {
        *out++ = '0';
      }
      if (places > 0) {
        std::memcpy(out, lc.decimal_point, static_cast<size_t>(lc.decimal_point_len));
        out += lc.decimal_point_len;
        for (int i = 0; i < places; ++i)
          *out++ = digit_at(int64_t {point} + i);
      }
      return 0;
    }
    if (point <= -4 || point <= -places) break;
    int64_t excess = needed - length;
    if (places >= excess) {
      places -= static_cast<int>(excess);
    } else if (places != 0 && places + lc.decimal_point_len >= excess) {
      places = 0;
    } else {
      break;
    }
  }
  if (dectoexp(value, buffer, length, point, negative) == 0) return 0;
  std::memset(buffer, '*', static_cast<size_t>(length));
  return -1;
}

}  // namespace

namespace dvz_genlib {

int load_conventions() {
  int status = chkglsinit();
  if (status != 0) return status;
  rmoninit(0);
  return 0;
}

const gls_lconv &conventions() {
  gls_env *env = CheckGlsEnv();
  if (env->state->lconv_loaded == 0) (void)load_conventions();
  return *env->state->lconv;
}

void set_locale_error(int error) {
  gls_env *env = CheckGlsEnv();
  if (env != nullptr && env->locale != nullptr) env->locale->error = error;
}

}  // namespace dvz_genlib

extern "C" {

int dec2to1(const char *ascii, uint8_t *digits, int odd) {
  int position = 0;
  if (odd) {
    digits[0] = 0;
    position = 1;
  }
  int count = 0;
  for (int i = 0; ascii[i] != '\0' && position < max_kept_digits; ++i, ++position) {
    int d = ascii[i] - '0';
    if (position % 2 == 0) {
      digits[position / 2] = static_cast<uint8_t>(d * 10);
      count = position / 2 + 1;
    } else {
      digits[position / 2] = static_cast<uint8_t>(digits[position / 2] + d);
      count = position / 2 + 1;
    }
  }
  return count;
}

char *dec1to2(const uint8_t *digits, int count, char *ascii) {
  for (int i = 0; i < count; ++i) {
    *ascii++ = static_cast<char>('0' + digits[i] / 10);
    *ascii++ = static_cast<char>('0' + digits[i] % 10);
  }
  *ascii = '\0';
  return ascii;
}

const char *decstoi(const char *text, int *value) {
  bool negative = false;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  uint32_t v = 0;
  while (is_digit(*text))
    v = v * 10u + static_cast<uint32_t>(*text++ - '0');
  *value = static_cast<int>(negative ? 0u - v : v);
  return text;
}

const char *decxtoi(const char *text, int32_t *value) {
  uint32_t v = 0;
  for (;; ++text) {
    char c = *text;
    uint32_t d;
    if (is_digit(c)) {
      d = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    v = v * 16u + d;
  }
  *value = static_cast<int32_t>(v);
  return text;
}

/* Reads the integer digits backwards, group by group, against the first
** three grouping entries: 0 when they follow it, -1 when not. */
int chk_if_thous_sep_valid(const char *text) {
  const gls_lconv &lc = dvz_genlib::conventions();
  const int sep = lc.thousands_sep_len;
  const char *start = text;
  while (*start != '\0' && !is_digit(*start))
    ++start;
  const char *pos = integer_digits_end(start, lc);
  auto separator_before = [&](const char *at) {
    return sep > 0 && at - start >= sep &&
           std::memcmp(at - sep, lc.thousands_sep, static_cast<size_t>(sep)) == 0;
  };
  int last = 0;
  for (int i = 0; i < 3; ++i) {
    int g = static_cast<signed char>(lc.grouping[i]);
    if (g == -1) {
      if (i == 0) return -1;
      while (pos > start) {
        if (!separator_before(pos)) return -1;
        pos -= sep;
      }
      return 0;
    }
    if (g > 0) {
      if (pos - start <= g) return 0;
      if (!separator_before(pos - g)) return -1;
      pos -= g + sep;
      last = g;
      continue;
    }
    if (i == 0 || last == 0) return -1;
    while (pos - start > last) {
      if (!separator_before(pos - last)) return -1;
      pos -= last + sep;
    }
    return 0;
  }
  return pos == start ? 0 : -1;
}

/* Scans a decimal or hexadecimal text (optional sign, grouping, exponent)
** into result; see the header for the returns. */
int deccvasc(const char *text, int length, dec_t *result) {
  TextCopy copy(text, length);
  char *p = copy.data();
  if (p == nullptr) {
    set_zero(result);
    return os_err_no_memory;
  }
  while (*p == ' ')
    ++p;
  if (*p == '\0') {
    result->sign = -1;
    result->exponent = 0;
    result->npairs = 0;
    return 0;
  }
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();

  bool negative = false;
  if (lc.negative_sign_len > 0 && starts_with(p, lc.negative_sign, lc.negative_sign_len)) {
    negative = true;
    p += lc.negative_sign_len;
  } else if (lc.positive_sign_len > 0 && starts_with(p, lc.positive_sign, lc.positive_sign_len)) {
    p += lc.positive_sign_len;
  } else if (lc.positive_sign_len == 0 && *p == '+') {
    ++p;
  } else if (*p == '-') {
    negative = true;
    ++p;
  }
  const bool point_next = starts_with(p, lc.decimal_point, lc.decimal_point_len);
  if (!is_digit(*p) && !point_next) {
    set_zero(result);
    return value_err_text;
  }
  auto text_ends = [](const char *q) {
    while (*q == ' ')
      ++q;
    if (*q == '\n') ++q;
    return *q == '\0';
  };
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    int32_t word = 0;
    const char *end = decxtoi(p + 2, &word);
    if (!text_ends(end)) {
      set_zero(result);
      return value_err_text;
    }
    return deccvlong(negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(word)) : word,
                     result);
  }

  char kept[max_kept_digits + 1];
  int nkept = 0;
  int e = 0;
  bool seen_point = false;
  bool grouping_checked = false;
  for (;;) {
    if (starts_with(p, lc.decimal_point, lc.decimal_point_len)) {
      if (seen_point) {
        set_zero(result);
        return value_err_text;
      }
      seen_point = true;
      p += lc.decimal_point_len;
    } else if (starts_with(p, lc.thousands_sep, lc.thousands_sep_len)) {
      if (seen_point && !(lc.thousands_sep_len == 1 && lc.thousands_sep[0] == ' ')) {
        set_zero(result);
        return value_err_text;
      }
      if (!grouping_checked) {
        grouping_checked = true;
        if (chk_if_thous_sep_valid(copy.data()) != 0) {
          set_zero(result);
          return value_err_text;
        }
      }
      p += lc.thousands_sep_len;
    } else if (*p == '0' && nkept == 0) {
      if (seen_point) --e;
      ++p;
    } else if (is_digit(*p)) {
      if (nkept < max_kept_digits) kept[nkept++] = *p;
      if (!seen_point) ++e;
      ++p;
    } else {
      break;
    }
  }
  kept[nkept] = '\0';
  if (*p == 'e' || *p == 'E') {
    int exponent = 0;
    p = const_cast<char *>(decstoi(p + 1, &exponent));
    int64_t sum = int64_t {e} + exponent;
    if (sum < -129 || sum > 125) {
      set_zero(result);
      return value_err_text;
    }
    e = static_cast<int>(sum);
  }
  if (!text_ends(p)) {
    set_zero(result);
    return value_err_text;
  }
  uint8_t pairs[DECSIZE + 1];
  int count = dec2to1(kept, pairs, e & 1);
  status = decload(result, negative ? 0 : 1, half_down(e + 1), pairs, count);
  if (status == value_err_overflow && e == 125) return 0;
  return status;
}

/* The digit string of value by mode; see the header. */
char *deccvt(const dec_t *value, int ndigit, int *point, int *negative, int mode) {
  gen_tcb *tcb = CheckGenInit();
  if (tcb == nullptr) return nullptr;
  if (ndigit < 0) ndigit = 0;
  if (value->sign == -1) {
    char *out = digit_buffer(tcb, int64_t {ndigit} + 2);
    if (out == nullptr) return nullptr;
    if (mode == 2 && ndigit == 0) {
      std::strcpy(out, "0");
    } else {
      std::memset(out, ' ', static_cast<size_t>(ndigit));
      out[ndigit] = '\0';
    }
    return out;
  }
  char all[2 * DECSIZE + 1];
  int npairs = value->npairs > DECSIZE ? DECSIZE : (value->npairs < 0 ? 0 : value->npairs);
  dec1to2(value->pairs, npairs, all);
  const char *digits = all;
  int position = npairs == 0 ? 0 : 2 * value->exponent;
  if (digits[0] == '0') {
    ++digits;
    --position;
  }
  *negative = value->sign == 0 ? 1 : 0;
  int available = static_cast<int>(std::strlen(digits));
  int64_t wanted = ndigit;
  if (mode == 1) {
    wanted = int64_t {ndigit} + position;
  } else if (mode == 2) {
    wanted =
        int64_t {ndigit} + position < 0 ? int64_t {ndigit} - position : int64_t {ndigit} + position;
  }
  if (wanted < 0) {
    char *out = digit_buffer(tcb, 2);
    if (out == nullptr) return nullptr;
    std::strcpy(out, "0");
    *point = 0;
    return out;
  }
  char *out = digit_buffer(tcb, wanted + 3);
  if (out == nullptr) return nullptr;
  int64_t n = wanted;
  for (int64_t i = 0; i < n; ++i)
    out[i] = i < available ? digits[i] : '0';
  if (n < available && digits[n] >= '5') {
    int64_t i = n - 1;
    while (i >= 0 && out[i] == '9')
      out[i--] = '0';
    if (i >= 0) {
      ++out[i];
    } else {
      ++position;
      if (n > 0) out[0] = '1';
      if (mode != 0) {
        if (n == 0) {
          out[0] = '1';
        } else {
          out[n] = '0';
        }
        ++n;
      }
    }
  }
  out[n] = '\0';
  if (mode == 2 && n == 0) std::strcpy(out, "0");
  *point = position;
  return out;
}

char *dececvt(const dec_t *value, int ndigit, int *point, int *negative) {
  return deccvt(value, ndigit, point, negative, 0);
}

char *decfcvt(const dec_t *value, int ndigit, int *point, int *negative) {
  return deccvt(value, ndigit, point, negative, 1);
}

int dvz_deccvt(const dec_t *value, int ndigit, int *point, int *negative, int mode, char *buffer,
               int size) {
  if (CheckGenInit() == nullptr) return os_err_no_memory;
  const char *digits = deccvt(value, ndigit, point, negative, mode);
  if (digits == nullptr || buffer == nullptr) return value_err_buffer_short;
  size_t needed = std::strlen(digits) + 1;
  if (size < 0 || needed > static_cast<size_t>(size)) return value_err_buffer_short;
  std::memcpy(buffer, digits, needed);
  return 0;
}

int dvz_dececvt(const dec_t *value, int ndigit, int *point, int *negative, char *buffer, int size) {
  return dvz_deccvt(value, ndigit, point, negative, 0, buffer, size);
}

int dvz_decfcvt(const dec_t *value, int ndigit, int *point, int *negative, char *buffer, int size) {
  return dvz_deccvt(value, ndigit, point, negative, 1, buffer, size);
}

int dectoasc(const dec_t *value, char *buffer, int length, int places) {
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  return write_fixed(value, buffer, length, places, false);
}

int dbltoasc(const dec_t *value, char *buffer, int length, int places) {
  return write_fixed(value, buffer, length, places, true);
}

/* d.ddde[-][h]xx in the field, blank-filled; 1 when it does not fit. */
int dectoexp(const dec_t *value, char *buffer, int length, int point, int negative) {
  const gls_lconv &lc = dvz_genlib::conventions();
  int sign_length = negative ? lc.negative_sign_len : 0;
  int x = point - 1;
  int overhead =
      sign_length + 3 + lc.decimal_point_len + (x < 0 ? 1 : 0) + (x >= 100 || x <= -100 ? 1 : 0);
  if (overhead >= length) return 1;
  int new_point = 0;
  int new_negative = 0;
  const char *digits = dececvt(value, length - overhead, &new_point, &new_negative);
  if (digits == nullptr) return 1;
  x = new_point - 1;
  int count = static_cast<int>(std::strlen(digits));
  while (count > 1 && digits[count - 1] == '0')
    --count;
  int magnitude = x < 0 ? -x : x;
  int needed = sign_length + 1 + (count > 1 ? lc.decimal_point_len + count - 1 : 0) + 1 +
               (x < 0 ? 1 : 0) + (magnitude >= 100 ? 3 : 2);
  if (needed > length) return 1;
  std::memset(buffer, ' ', static_cast<size_t>(length));
  char *out = buffer;
  if (negative) {
    std::memcpy(out, lc.negative_sign, static_cast<size_t>(sign_length));
    out += sign_length;
  }
  *out++ = count > 0 ? digits[0] : '0';
  if (count > 1) {
    std::memcpy(out, lc.decimal_point, static_cast<size_t>(lc.decimal_point_len));
    out += lc.decimal_point_len;
    std::memcpy(out, digits + 1, static_cast<size_t>(count - 1));
    out += count - 1;
  }
  *out++ = 'e';
  if (x < 0) *out++ = '-';
  if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
  *out++ = static_cast<char>('0' + magnitude / 10 % 10);
  *out++ = static_cast<char>('0' + magnitude % 10);
  return 0;
}

}  // extern "C"
