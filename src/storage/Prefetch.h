#pragma once
// Prefetch: a hint to the processor that memory will be read soon, for the
// passes that visit a large table at scattered places in an order known a
// little ahead. Without a compiler that offers the hint it does nothing.

inline void prefetch(const void *address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}
