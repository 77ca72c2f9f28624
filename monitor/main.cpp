#include <cstdio>
int main() { std::puts("qelta-monitor"); return 0; }
