// An executable without a version block.
int main() { return 0; }
