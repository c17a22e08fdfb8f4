/*
** dvz_be.h: big-endian loads and stores of 16-, 32- and 64-bit integers
** and of IEEE single and double floats, at any alignment. Every stored
** form, catalog file, trace record and wire field of the client library
** goes through these; none is ever a copy of an in-memory record.
**
** Header-only; usable from C and C++. The float forms assume the host's
** float and double are IEEE 754 binary32 and binary64 (checked below).
*/
#ifndef DVZ_OSLIB_DVZ_BE_H
#define DVZ_OSLIB_DVZ_BE_H

#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE float and double expected");
#else
_Static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE float and double expected");
#endif

static inline uint16_t dvz_ld_be_u16(const void *from) {
  const unsigned char *p = (const unsigned char *)from;
  return (uint16_t)((p[0] << 8) | p[1]);
}
static inline int16_t dvz_ld_be_i16(const void *from) { return (int16_t)dvz_ld_be_u16(from); }

static inline uint32_t dvz_ld_be_u32(const void *from) {
  const unsigned char *p = (const unsigned char *)from;
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
static inline int32_t dvz_ld_be_i32(const void *from) { return (int32_t)dvz_ld_be_u32(from); }

static inline uint64_t dvz_ld_be_u64(const void *from) {
  const unsigned char *p = (const unsigned char *)from;
  return ((uint64_t)dvz_ld_be_u32(p) << 32) | dvz_ld_be_u32(p + 4);
}
static inline int64_t dvz_ld_be_i64(const void *from) { return (int64_t)dvz_ld_be_u64(from); }

static inline void dvz_st_be_u16(uint16_t value, void *to) {
  unsigned char *p = (unsigned char *)to;
  p[0] = (unsigned char)(value >> 8);
  p[1] = (unsigned char)value;
}
static inline void dvz_st_be_i16(int16_t value, void *to) { dvz_st_be_u16((uint16_t)value, to); }

static inline void dvz_st_be_u32(uint32_t value, void *to) {
  unsigned char *p = (unsigned char *)to;
  p[0] = (unsigned char)(value >> 24);
  p[1] = (unsigned char)(value >> 16);
  p[2] = (unsigned char)(value >> 8);
  p[3] = (unsigned char)value;
}
static inline void dvz_st_be_i32(int32_t value, void *to) { dvz_st_be_u32((uint32_t)value, to); }

static inline void dvz_st_be_u64(uint64_t value, void *to) {
  unsigned char *p = (unsigned char *)to;
  dvz_st_be_u32((uint32_t)(value >> 32), p);
  dvz_st_be_u32((uint32_t)value, p + 4);
}
static inline void dvz_st_be_i64(int64_t value, void *to) { dvz_st_be_u64((uint64_t)value, to); }

/* IEEE single and double, big-endian: the bit pattern moved through an
** integer of the same width, so the host's byte order never matters. */
static inline float dvz_ld_be_float(const void *from) {
  uint32_t bits = dvz_ld_be_u32(from);
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}
static inline void dvz_st_be_float(float value, void *to) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  dvz_st_be_u32(bits, to);
}
static inline double dvz_ld_be_double(const void *from) {
  uint64_t bits = dvz_ld_be_u64(from);
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}
static inline void dvz_st_be_double(double value, void *to) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  dvz_st_be_u64(bits, to);
}

#endif
