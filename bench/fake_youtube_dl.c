/* Stands in for youtube-dl on the direct-address road: prints one address at once. */
#include <stdio.h>

int main(void) {
    fputs("http://127.0.0.1/stream/index.m3u8\n", stdout);
    return 0;
}
