/* The stand-in converter for Windows: does nothing and succeeds. */
int main(void) { return 0; }
