// Read-and-convert floor: reads a file in 1 MiB blocks and converts every
// decimal number in it (signs included), the least any QDIMACS reader must do.
#include <cstdio>
int main(int argc, char **argv) {
  std::FILE *f = argc > 1 ? std::fopen(argv[1], "rb") : nullptr;
  if (!f) return 2;
  static char buf[1 << 20];
  long long sum = 0, count = 0, cur = 0;
  bool in = false, neg = false;
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
    for (std::size_t i = 0; i < n; i++) {
      char c = buf[i];
      if (c >= '0' && c <= '9')
        cur = cur * 10 + (c - '0'), in = true;
      else {
        if (in) sum += neg ? -cur : cur, count++;
        in = false, cur = 0, neg = c == '-';
      }
    }
  if (in) sum += neg ? -cur : cur, count++;
  std::printf("%lld numbers, sum %lld\n", count, sum);
  return 0;
}
