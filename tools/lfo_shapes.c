/* SPDX-License-Identifier: LGPL-2.1-or-later */
/* Prints the LFO wave shapes for docs/make-pictures: over two periods, the
 * value of a depth-1 LFO, (s - 0.5) * 2 with s = sigmoid((cos(phase) + 1) / 2,
 * shape), for the shape control at 0, 25, 50, 75 and 100 %.
 * Output: one line per point, "periods v0 v25 v50 v75 v100". */
#include <math.h>
#include <stdio.h>

#include <quivex/sigmoid.h>

int main(void)
{
  const double shapes[] = {0.0, 0.25, 0.5, 0.75, 1.0};
  const int points = 800;
  printf("# periods");
  for (int j = 0; j < 5; ++j) {
    printf(" mod%g", shapes[j] * 100.0);
  }
  printf("\n");
  for (int i = 0; i <= points; ++i) {
    const double periods = 2.0 * i / points;
    const double t = (cos(6.283185307179586 * periods) + 1.0) * 0.5;
    printf("%.5f", periods);
    for (int j = 0; j < 5; ++j) {
      printf(" %.6f", (sigmoid(t, shapes[j]) - 0.5) * 2.0);
    }
    printf("\n");
  }
  return 0;
}
