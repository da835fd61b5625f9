#include <stdio.h>
#include <stdlib.h>
// Both switches cover every value: no bounds check jumps past the first
// table, so the second switch is reached only through the first's cases.
int twice(int a, int b)
{
    int r = 0;
    switch (a & 7) {
    case 0: r = 11; break; case 1: r = 23; break; case 2: r = 35; break; case 3: r = 47; break;
    case 4: r = 59; break; case 5: r = 61; break; case 6: r = 73; break; case 7: r = 5; break;
    }
    switch (b & 7) {
    case 0: r += 102; break; case 1: r += 215; break; case 2: r *= 3; break; case 3: r -= 7; break;
    case 4: r ^= 0x55; break; case 5: r += 999; break; case 6: r <<= 2; break; case 7: r = 1; break;
    }
    return r;
}
int main(int argc, char **argv)
{
    int n = argc > 1 ? atoi(argv[1]) : 9;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            printf("%d ", twice(i, j));
    printf("\n");
    return 0;
}
