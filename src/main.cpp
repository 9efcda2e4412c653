// Entry point. The run driver replaces this stub.
int main() { return 0; }
