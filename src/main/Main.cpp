// Placeholder until the request cycle is in place.
int main() { return 0; }
