// Placeholder entry until the converter lands.
int main() { return 2; }
