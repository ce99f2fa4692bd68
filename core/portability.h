// The one place that knows compilers and processors apart: GCC, clang and
// MSVC; x86-64, 32-bit x86 and ARM64. Everything else in the modules uses
// these names instead of builtins, attributes or pragmas of its own.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#define QIR_MSVC 1
#include <intrin.h>
#endif

#if defined(__x86_64__) || defined(_M_X64)
#define QIR_X86_64 1
#elif defined(__aarch64__) || defined(_M_ARM64)
#define QIR_AARCH64 1
#endif

// Results must be bit-identical everywhere, so the arithmetic must be IEEE
// double arithmetic rounded after every operation. The x87 unit keeps
// extended precision in its registers; 32-bit x86 builds must use SSE2.
#if defined(__i386__) && !defined(__SSE2_MATH__)
#error "32-bit x86 builds need SSE2 arithmetic: compile with -msse2 -mfpmath=sse"
#endif
#if defined(_M_IX86) && (!defined(_M_IX86_FP) || _M_IX86_FP < 2)
#error "32-bit x86 builds need SSE2 arithmetic: compile with /arch:SSE2"
#endif

// Never fuse a*b+c into one operation: a fused multiply-add rounds once
// where the separate operations round twice. The build flags say so too
// (-ffp-contract=off); this covers builds that forget them.
#if defined(QIR_MSVC)
#pragma fp_contract(off)
#elif defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#endif

#define QIR_PRAGMA(text) _Pragma(#text)

// Byte order: little-endian everywhere the modules are built, but kept
// honest for the rest.
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
#define QIR_LITTLE_ENDIAN 0
#else
#define QIR_LITTLE_ENDIAN 1
#endif

// mexFunction is the one symbol a module exports.
#if defined(_WIN32)
#define QIR_EXPORT __declspec(dllexport)
#else
#define QIR_EXPORT __attribute__((visibility("default")))
#endif

// The embedded host's library exports its mx and mex functions and the
// modules import them (on Windows each side must say which).
#if defined(_WIN32) && defined(QIRHOST_BUILDING)
#define QIR_HOST_API __declspec(dllexport)
#elif defined(_WIN32)
#define QIR_HOST_API __declspec(dllimport)
#else
#define QIR_HOST_API QIR_EXPORT
#endif

// A function whose first argument is a printf format for the rest.
#if defined(__GNUC__)
#define QIR_PRINTF_FORMAT __attribute__((format(printf, 1, 2)))
#else
#define QIR_PRINTF_FORMAT
#endif

// Data that nothing references but that must stay in the module file.
#if defined(QIR_MSVC)
#define QIR_KEEP
#elif defined(__has_attribute)
#if __has_attribute(retain)
#define QIR_KEEP __attribute__((used, retain))
#endif
#endif
#ifndef QIR_KEEP
#define QIR_KEEP __attribute__((used))
#endif

// Unrolls the next loop completely (N iterations at most).
#if defined(__clang__)
#define QIR_UNROLL(n) QIR_PRAGMA(unroll n)
#elif defined(__GNUC__)
#define QIR_UNROLL(n) QIR_PRAGMA(GCC unroll n)
#else
#define QIR_UNROLL(n)
#endif

// Formats that arrive as arguments (the messages' format tables).
#if defined(__GNUC__)
#define QIR_NONLITERAL_FORMAT_BEGIN                                  \
  QIR_PRAGMA(GCC diagnostic push)                                    \
  QIR_PRAGMA(GCC diagnostic ignored "-Wformat-nonliteral")           \
  QIR_PRAGMA(GCC diagnostic ignored "-Wformat-security")
#define QIR_NONLITERAL_FORMAT_END QIR_PRAGMA(GCC diagnostic pop)
#else
#define QIR_NONLITERAL_FORMAT_BEGIN
#define QIR_NONLITERAL_FORMAT_END
#endif

// Compiles one function for AVX2 whatever the build's baseline. It adds no
// FMA, and never removes it either ("no-fma" would clash with the
// intrinsics of a build for a newer baseline, -march=native say): what
// keeps multiply-adds unfused is the contraction setting above. MSVC needs
// nothing: it accepts AVX2 intrinsics in any function.
#if defined(QIR_X86_64) && (defined(__GNUC__) || defined(__clang__))
#define QIR_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define QIR_TARGET_AVX2
#endif

// The same for AVX-512F (which includes AVX2), on the same terms.
#if defined(QIR_X86_64) && (defined(__GNUC__) || defined(__clang__))
#define QIR_TARGET_AVX512 __attribute__((target("avx512f")))
#else
#define QIR_TARGET_AVX512
#endif

// A small function the compiler must inline where it is called (a hot
// loop's helper that grew past its inlining limits).
#if defined(__GNUC__) || defined(__clang__)
#define QIR_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define QIR_ALWAYS_INLINE inline
#endif

// GCC takes the undefined pass-through operand inside some AVX-512
// intrinsics (insert, extract, sqrt) for a value that "may be used
// uninitialized"; it never is. Around the intrinsics' header and their use.
#if defined(__GNUC__) && !defined(__clang__)
#define QIR_AVX512_INTRINSICS_BEGIN \
  QIR_PRAGMA(GCC diagnostic push)   \
  QIR_PRAGMA(GCC diagnostic ignored "-Wmaybe-uninitialized") \
  QIR_PRAGMA(GCC diagnostic ignored "-Wuninitialized")
#define QIR_AVX512_INTRINSICS_END QIR_PRAGMA(GCC diagnostic pop)
#else
#define QIR_AVX512_INTRINSICS_BEGIN
#define QIR_AVX512_INTRINSICS_END
#endif

// std::from_chars for double: in libstdc++ from GCC 11 and in MSVC's
// library (both say so by __cpp_lib_to_chars, or by the release); libc++
// long lacked it, and Apple's clang ships such a libc++. Without it the
// library reads numbers through its own check of the text and strtod
// (-DQIR_FROM_CHARS_DOUBLE=0 chooses that way anywhere).
#if defined(__has_include)
#if __has_include(<version>)
#include <version>
#endif
#endif
#if !defined(QIR_FROM_CHARS_DOUBLE)
#if defined(__cpp_lib_to_chars) || (defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 11)
#define QIR_FROM_CHARS_DOUBLE 1
#else
#define QIR_FROM_CHARS_DOUBLE 0
#endif
#endif

// Index of the lowest set bit; `bits` must not be 0.
inline int qir_count_trailing_zeros(std::uint64_t bits) {
#if defined(QIR_MSVC) && (defined(_M_X64) || defined(_M_ARM64))
  unsigned long index = 0;
  _BitScanForward64(&index, bits);
  return static_cast<int>(index);
#elif defined(QIR_MSVC)
  unsigned long index = 0;
  if (_BitScanForward(&index, static_cast<unsigned long>(bits))) return static_cast<int>(index);
  _BitScanForward(&index, static_cast<unsigned long>(bits >> 32));
  return static_cast<int>(index) + 32;
#else
  return __builtin_ctzll(bits);
#endif
}

#if defined(QIR_X86_64) && !defined(QIR_MSVC)
#include <cpuid.h>
#endif

// True when the processor has AVX2 and the operating system saves the
// 256-bit registers on a thread switch (XCR0 bits 1 and 2).
// What the processor offers and the operating system saves (XCR0): AVX2
// needs the SSE and AVX state, AVX-512 the opmask and both halves of the
// upper ZMM state as well.
struct QirCpuVectors {
  bool avx2 = false;
  bool avx512f = false;
};

inline QirCpuVectors qir_cpu_vectors() {
  QirCpuVectors found;
#if defined(QIR_X86_64)
  unsigned leaf1[4] = {0, 0, 0, 0};
  unsigned leaf7[4] = {0, 0, 0, 0};
  std::uint64_t xcr0 = 0;
#if defined(QIR_MSVC)
  int regs[4];
  __cpuid(regs, 0);
  if (regs[0] < 7) return found;
  __cpuid(regs, 1);
  for (int k = 0; k < 4; ++k) leaf1[k] = static_cast<unsigned>(regs[k]);
  __cpuidex(regs, 7, 0);
  for (int k = 0; k < 4; ++k) leaf7[k] = static_cast<unsigned>(regs[k]);
  const bool osxsave = (leaf1[2] >> 27) & 1u;
  if (osxsave) xcr0 = _xgetbv(0);
#else
  if (__get_cpuid_max(0, nullptr) < 7) return found;
  __cpuid(1, leaf1[0], leaf1[1], leaf1[2], leaf1[3]);
  __cpuid_count(7, 0, leaf7[0], leaf7[1], leaf7[2], leaf7[3]);
  const bool osxsave = (leaf1[2] >> 27) & 1u;
  if (osxsave) {
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (static_cast<std::uint64_t>(hi) << 32) | lo;
  }
#endif
  const bool avx = (leaf1[2] >> 28) & 1u;
  const bool avx2 = (leaf7[1] >> 5) & 1u;
  const bool avx512f = (leaf7[1] >> 16) & 1u;
  found.avx2 = osxsave && avx && avx2 && (xcr0 & 6u) == 6u;
  found.avx512f = found.avx2 && avx512f && (xcr0 & 0xE6u) == 0xE6u;
#endif
  return found;
}

inline bool qir_cpu_has_avx2() { return qir_cpu_vectors().avx2; }
inline bool qir_cpu_has_avx512f() { return qir_cpu_vectors().avx512f; }
