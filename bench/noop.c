/* A player that does nothing, so that only the cost of starting it counts. */
int main(void) { return 0; }
