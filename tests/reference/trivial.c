/* The least a C program allocates: the baseline for a filter that allocates
   nothing of its own. */
int main(void) { return 0; }
