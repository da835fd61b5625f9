#include <stdio.h>
#include <stdlib.h>
#include <string.h>
static const char *names[] = { "zero", "one", "two", "three", "four", "five" };
int table[8] = { 3, 1, 4, 1, 5, 9 };
char buf[64];
static int pick(int x) {
    switch (x) { case 0: return 10; case 1: return 22; case 2: return 37; case 3: return 41;
                 case 4: return 59; case 5: return 61; default: return -1; }
}
int main(int argc, char **argv) {
    int s = 0;
    for (int i = 0; i < 6; i++) { s += pick(i) * table[i]; printf("%s %d\n", names[i], pick(i)); }
    strcpy(buf, "sum");
    printf("%s %d %zu\n", buf, s, strlen(buf));
    if (argc > 5) exit(3);
    puts("end");
    return 0;
}
